// The security and logins of each server, from the settings, as the engine
// takes them. Everything off gives exactly the plain-text exchange.
#pragma once

#include "net/netwire.h"
#include "settings/settings.h"

namespace transfer {

inline constexpr const char* kTrustFile = "trusted.lst";

// Server types of OpenServer.
inline constexpr int kNntpServerType = netwire::kServerNntp;
inline constexpr int kSmtpServerType = netwire::kServerSmtp;

inline netwire::ServerOptions pop3Options(const omail::GeneralSettings& s) {
    netwire::ServerOptions options;
    options.security = s.popsec;  // the POP3 login itself goes through OpenMailBox
    return options;
}

// With TLS and no SMTP user of its own, the submission server gets the POP3
// login, as providers expect; a plain server without a user gets HELO.
inline netwire::ServerOptions smtpOptions(const omail::GeneralSettings& s) {
    netwire::ServerOptions options;
    options.security = s.smtpsec;
    options.user = s.smtpuser;
    options.password = s.smtppass;
    options.smtpPipelining = s.smtppipe != 0;
    if (options.user.empty() && s.smtpsec != netwire::kSecurityNone) {
        options.user = s.user;
        options.password = s.pass;
    }
    return options;
}

inline netwire::ServerOptions nntpOptions(const omail::GeneralSettings& s) {
    netwire::ServerOptions options;
    options.security = s.nntpsec;
    options.user = s.newsuser;
    options.password = s.newspass;
    return options;
}

}  // namespace transfer
