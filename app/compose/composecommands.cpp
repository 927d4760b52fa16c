#include "compose/composecommands.h"

#include "addressbook/addrbook.h"
#include "compose/mailform.h"
#include "main/mainhost.h"
#include "settings/settings.h"
#include "store/torvakit.h"
#include "transfer/transfer.h"
#include "ui/dialogs.h"

namespace {
constexpr int kOutboxRow = 1;
constexpr int kMainWindowCaller = 1;
constexpr int kViewerCaller = 2;
}  // namespace

ComposeCommands::ComposeCommands(MainHost& host, QObject* parent)
    : QObject(parent), m_host(host), m_delivery(std::make_unique<transfer::Delivery>(host.transfers())) {
    m_book = new Taddrbookform(QString::fromStdString(host.dataDirectory()), host.window());
    m_mailform = new Tmailform(host, host.window());
    m_mailform->setAddressBook(m_book);
}

ComposeCommands::~ComposeCommands() = default;

void ComposeCommands::newemailmessage1Click() { compose(compose::kNewMessage, {}); }
void ComposeCommands::replytoselecteditemviaemail1Click() { composeOnItem(compose::kReply); }
void ComposeCommands::forwardselecteditem1Click() { composeOnItem(compose::kForward); }
void ComposeCommands::followupselecteditemviausenet1Click() { composeOnItem(compose::kFollowUp); }
void ComposeCommands::recomposeselecteditem1Click() { composeOnItem(compose::kRecompose); }

void ComposeCommands::newnewsarticle1Click() {
    compose(compose::kNewArticle, m_host.mailFolderShown() ? QString() : m_host.shownFolderName());
}

void ComposeCommands::composeOnItem(int mode) {
    if (m_host.transfers().deliveryFlag) return;
    const std::string body = m_host.currentBodyPath();
    if (body.empty()) return;
    compose(mode, QString::fromStdString(body));
}

void ComposeCommands::compose(int mode, const QString& source) {
    transfer::Transfers& t = m_host.transfers();
    if (t.deliveryFlag) return;
    m_mailform->setMode(mode, source);
    m_mailform->setCaller(kMainWindowCaller, m_host.window());
    if (m_mailform->showModal() != ui::kResultOk) return;
    transfer::dropIndices(t.dataPath(transfer::kOutbox) + "/");
    if (m_host.mailFolderShown() && m_host.mailFolderRow() == kOutboxRow) m_host.reloadList();
    if (m_host.settings().autodlv != 1) return;
    m_delivery->start(compose::isNewsMode(m_mailform->mode()) ? transfer::DeliveryKind::News
                                                             : transfer::DeliveryKind::Mail);
}

int ComposeCommands::composeFromViewer(int mode, const std::string& source, QWidget* viewer) {
    transfer::Transfers& t = m_host.transfers();
    if (t.deliveryFlag) return ui::kResultCancel;
    QString from = QString::fromStdString(source);
    if (mode == compose::kNewArticle && !m_host.mailFolderShown()) from = m_host.shownFolderName();
    m_mailform->setMode(mode, from);
    m_mailform->setCaller(kViewerCaller, viewer);
    const int result = m_mailform->showModal();
    if (result == ui::kResultOk) transfer::dropIndices(t.dataPath(transfer::kOutbox) + "/");
    return result;
}

void ComposeCommands::sendemailmessagesinoutbox1Click() { m_delivery->start(transfer::DeliveryKind::Mail); }
void ComposeCommands::postnewsarticlesinoutbox1Click() { m_delivery->start(transfer::DeliveryKind::News); }
void ComposeCommands::deliverallitemsinoutbox1Click() { m_delivery->deliverAll(true); }

void ComposeCommands::deliverAfterViewer() {
    if (m_host.settings().autodlv == 1) m_delivery->deliverAll(false);
}

void ComposeCommands::addressbook1Click() {
    std::string body = m_host.currentBodyPath();
    if (!body.empty()) {
        std::string name, address;
        if (torvakit::GetAuthorDecoded(body, name, address) == 1)
            m_book->setPrefill(QString::fromStdString(name), QString::fromStdString(address));
    }
    m_book->setPickingMode(0);
    m_book->showModal();
}
