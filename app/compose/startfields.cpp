// A new message that starts filled in, as a mailto: link asks.
#include "compose/composecommands.h"
#include "compose/mailform.h"

#include "main/mainhost.h"
#include "transfer/transfer.h"

#include <QLineEdit>
#include <QPlainTextEdit>

#include <utility>

void Tmailform::setStartFields(const QString& to, const QString& cc, const QString& subject, const QString& body) {
    m_startFields = {to, cc, subject, body};
}

void Tmailform::applyStartFields() {
    if (m_startFields.size() != 4) return;
    const QStringList fields = std::exchange(m_startFields, {});
    if (m_mode != compose::kNewMessage) return;
    dto->setText(fields[0]);
    dcc->setText(fields[1]);
    dsub->setText(fields[2]);
    memo->setPlainText(fields[3]);
}

void ComposeCommands::newMessageWith(const QString& to, const QString& cc, const QString& subject,
                                     const QString& body) {
    if (m_host.transfers().deliveryFlag) return;
    m_mailform->setStartFields(to, cc, subject, body);
    newemailmessage1Click();
}
