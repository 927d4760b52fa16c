// The layout of the settings dialogs: the five pages of the general
// settings, the personal folder options and the colours dialog.
#include "settings/gen.h"

#include "ui/dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

constexpr int kSampleHeight = 60;
constexpr int kDialogWidth = 520;
constexpr int kColourPanelWidth = 140;

// The password shows '*' for each character, whatever the style's own
// password character is.
class StarPasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QLineEdit* field(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    return edit;
}

QPushButton* button(QWidget* parent, const char* caption, const char* name) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

// A password field showing '*' for each character.
QLineEdit* passwordField(QWidget* parent, const char* name) {
    QLineEdit* edit = field(parent, name);
    edit->setEchoMode(QLineEdit::Password);
    auto* stars = new StarPasswordStyle;
    stars->setParent(edit);
    edit->setStyle(stars);
    return edit;
}

// The security of one server, in the order of the setting's values.
QComboBox* securityBox(QWidget* parent, const char* name) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->addItems({"none", "STARTTLS", "TLS"});
    return box;
}

// ok and cancel under a dialog's content.
QHBoxLayout* okCancelRow(QWidget* parent, QPushButton*& ok, QPushButton*& cancel) {
    auto* row = new QHBoxLayout;
    ok = button(parent, "ok", "okbtn");
    cancel = button(parent, "cancel", "cancelbtn");
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    return row;
}

}  // namespace

void Tgen::buildPages() {
    auto* layout = new QVBoxLayout(this);
    auto* menu = new QMenuBar(this);
    QMenu* general = menu->addMenu("&general");
    connect(general->addAction("&cancel"), &QAction::triggered, this, &Tgen::cancelClicked);
    connect(general->addAction("&ok"), &QAction::triggered, this, &Tgen::okClicked);
    QMenu* help = menu->addMenu("&help");
    connect(help->addAction("orrindel &mail"), &QAction::triggered, this, [this] {
        if (showHelp) showHelp();
    });
    connect(help->addAction("&about orrindel mail"), &QAction::triggered, this, [this] {
        if (showAbout) showAbout();
    });
    layout->setMenuBar(menu);

    pages = new QTabWidget(this);
    pages->setObjectName("pages");
    pages->addTab(buildIdentity(), "identity");
    pages->addTab(buildAccount(), "account");
    pages->addTab(buildAttachments(), "attachments");
    pages->addTab(buildAppearance(), "appearance");
    pages->addTab(buildMiscellaneous(), "miscellaneous");
    setMinimumWidth(kDialogWidth);
    layout->addWidget(pages);
    layout->addLayout(okCancelRow(this, okbtn, cancelbtn));
    okbtn->setDefault(true);
    connect(okbtn, &QPushButton::clicked, this, &Tgen::okClicked);
    connect(cancelbtn, &QPushButton::clicked, this, &Tgen::cancelClicked);
}

QWidget* Tgen::buildIdentity() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    form->addRow("name", dname = field(page, "dname"));
    form->addRow("email address", demail = field(page, "demail"));
    form->addRow("reply address", dreply = field(page, "dreply"));
    form->addRow("organization", dorg = field(page, "dorg"));
    auto* sigRow = new QHBoxLayout;
    sigRow->addWidget(dsig = field(page, "dsig"));
    sigRow->addWidget(sigeditbtn = button(page, "edit", "sigeditbtn"));
    form->addRow("signature", sigRow);
    connect(sigeditbtn, &QPushButton::clicked, this, [this] {
        if (!dsig->text().isEmpty() && editSignature) editSignature(dsig->text());
        dsig->setFocus();
    });
    return page;
}

QWidget* Tgen::buildAccount() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    form->addRow("smtp server", dsmtp = field(page, "dsmtp"));
    form->addRow("pop server", dpop = field(page, "dpop"));
    form->addRow("nntp server", dnntp = field(page, "dnntp"));
    form->addRow("user name", duser = field(page, "duser"));
    form->addRow("password", dpass = field(page, "dpass"));
    dpass->setEchoMode(QLineEdit::Password);
    auto* stars = new StarPasswordStyle;
    stars->setParent(dpass);
    dpass->setStyle(stars);
    dtime = new QComboBox(page);
    dtime->setObjectName("dtime");
    dtime->setEditable(true);
    dtime->addItems({"BST", "GMT"});
    form->addRow("timezone", dtime);
    buildConnections(page, form);
    return page;
}

void Tgen::buildConnections(QWidget* page, QFormLayout* form) {
    form->addRow("pop security", dpopsec = securityBox(page, "dpopsec"));
    form->addRow("smtp security", dsmtpsec = securityBox(page, "dsmtpsec"));
    form->addRow("smtp user name", dsmtpuser = field(page, "dsmtpuser"));
    form->addRow("smtp password", dsmtppass = passwordField(page, "dsmtppass"));
    form->addRow("nntp security", dnntpsec = securityBox(page, "dnntpsec"));
    form->addRow("news user name", dnewsuser = field(page, "dnewsuser"));
    form->addRow("news password", dnewspass = passwordField(page, "dnewspass"));
    auto* leaveRow = new QHBoxLayout;
    leaveRow->addWidget(cleave = new QCheckBox("leave mail on server", page));
    cleave->setObjectName("cleave");
    leaveRow->addWidget(new QLabel("delete after", page));
    leaveRow->addWidget(dleavedays = field(page, "dleavedays"));
    leaveRow->addWidget(new QLabel("days (0: never)", page));
    form->addRow(leaveRow);
    form->addRow(cuidl = new QCheckBox("never retrieve a message twice", page));
    cuidl->setObjectName("cuidl");
    form->addRow(cpipe = new QCheckBox("send mail without waiting for each reply", page));
    cpipe->setObjectName("cpipe");
    cpipe->setToolTip("when the server offers it (PIPELINING), the commands of each item go in one write");
    // Leaving mail on the server needs the record of what was retrieved.
    connect(cleave, &QCheckBox::toggled, this, [this](bool on) {
        dleavedays->setEnabled(on);
        if (on) cuidl->setChecked(true);
        cuidl->setEnabled(!on);
    });
}

QWidget* Tgen::buildAttachments() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* encoding = new QGroupBox("encoding", page);
    auto* row = new QHBoxLayout(encoding);
    ruue = new QRadioButton("uue", encoding);
    ruue->setObjectName("ruue");
    rmime = new QRadioButton("mime", encoding);
    rmime->setObjectName("rmime");
    row->addWidget(ruue);
    row->addWidget(rmime);
    row->addWidget(new QLabel("size in KB", encoding));
    row->addWidget(dsize = field(encoding, "dsize"));
    connect(ruue, &QRadioButton::toggled, dsize, &QWidget::setEnabled);
    layout->addWidget(encoding);

    auto* types = new QGroupBox("mime types", page);
    auto* grid = new QGridLayout(types);
    mimelist = new QListWidget(types);
    mimelist->setObjectName("mimelist");
    mimelist->setSortingEnabled(true);
    grid->addWidget(mimelist, 0, 0, 4, 1);
    grid->addWidget(mimeaddbtn = button(types, "add", "mimeaddbtn"), 0, 1);
    grid->addWidget(mimeeditbtn = button(types, "edit", "mimeeditbtn"), 1, 1);
    grid->addWidget(mimedelbtn = button(types, "delete", "mimedelbtn"), 2, 1);
    connect(mimeaddbtn, &QPushButton::clicked, this, &Tgen::addMimeType);
    connect(mimeeditbtn, &QPushButton::clicked, this, &Tgen::editMimeType);
    connect(mimedelbtn, &QPushButton::clicked, this, [this] { delete mimelist->currentItem(); });
    layout->addWidget(types);
    return page;
}

QWidget* Tgen::buildAppearance() {
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    fontname = new QLabel(page);
    fontname->setObjectName("fontname");
    fontstyle = new QLabel(page);
    fontstyle->setObjectName("fontstyle");
    grid->addWidget(new QLabel("font", page), 0, 0);
    grid->addWidget(fontname, 0, 1);
    grid->addWidget(fontstyle, 0, 2);
    grid->addWidget(fontbtn = button(page, "select", "fontbtn"), 0, 3);
    sample = new QLabel("AaBbYyZz 0123", page);
    sample->setObjectName("sample");
    sample->setAutoFillBackground(true);
    sample->setMinimumHeight(kSampleHeight);
    sample->setAlignment(Qt::AlignCenter);
    grid->addWidget(sample, 1, 0, 1, 3);
    grid->addWidget(colorsbtn = button(page, "colors", "colorsbtn"), 1, 3);
    grid->setRowStretch(2, 1);
    connect(fontbtn, &QPushButton::clicked, this, &Tgen::selectFont);
    connect(colorsbtn, &QPushButton::clicked, this, &Tgen::selectColours);
    return page;
}

QWidget* Tgen::buildMiscellaneous() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto group = [page, layout](const char* title) {
        auto* box = new QGroupBox(title, page);
        layout->addWidget(box);
        return new QHBoxLayout(box);
    };
    QHBoxLayout* automatic = group("automatic mail retrieval");
    automatic->addWidget(new QLabel("time interval", page));
    automatic->addWidget(dauto = field(page, "dauto"));
    automatic->addWidget(new QLabel("minutes", page));
    QHBoxLayout* delivery = group("automatic delivery");
    delivery->addWidget(cad = new QCheckBox("enabled", page));
    cad->setObjectName("cad");
    QHBoxLayout* headers = group("news header retrieval");
    headers->addWidget(new QLabel("per group limit", page));
    headers->addWidget(dlimit = field(page, "dlimit"));
    QHBoxLayout* archive = group("news x-no-archive header");
    archive->addWidget(cxno = new QCheckBox("enabled", page));
    cxno->setObjectName("cxno");
    layout->addStretch();
    return page;
}

void Tfoptsform::buildChecks() {
    auto* layout = new QVBoxLayout(this);
    auto check = [this](QGridLayout* grid, int row, int column, const char* caption, const char* name) {
        auto* box = new QCheckBox(caption, this);
        box->setObjectName(name);
        grid->addWidget(box, row, column);
        return box;
    };
    auto* messages = new QGroupBox("redirect messages -> folder", this);
    auto* m = new QGridLayout(messages);
    m->addWidget(new QLabel("retrieve", messages), 0, 0);
    crfrom = check(m, 0, 1, "author", "crfrom");
    crrecip = check(m, 0, 2, "recipient", "crrecip");
    m->addWidget(new QLabel("send", messages), 1, 0);
    csfrom = check(m, 1, 1, "author", "csfrom");
    csrecip = check(m, 1, 2, "recipient", "csrecip");
    layout->addWidget(messages);
    auto* articles = new QGroupBox("redirect articles -> folder", this);
    auto* a = new QGridLayout(articles);
    a->addWidget(new QLabel("post", articles), 0, 0);
    cpfrom = check(a, 0, 1, "author", "cpfrom");
    cpgrp = check(a, 0, 2, "newsgroup", "cpgrp");
    layout->addWidget(articles);
    layout->addLayout(okCancelRow(this, okbtn, cancelbtn));
    okbtn->setDefault(true);
    connect(okbtn, &QPushButton::clicked, this, &Tfoptsform::okClicked);
    connect(cancelbtn, &QPushButton::clicked, this, [this] { done(ui::kResultCancel); });
}

Tcol::Tcol(QWidget* parent) : QDialog(parent) {
    setObjectName("col");
    setWindowTitle("colors");
    chooseColour = [this](QColor& colour) {
        QColor chosen = QColorDialog::getColor(colour, this, "colors");
        if (!chosen.isValid()) return false;
        colour = chosen;
        return true;
    };
    // The labels in the order of the select buttons below the background's.
    const std::pair<int, const char*> labels[] = {{Unread, "unread"},   {Read, "read"},     {Highlighted, "highlighted"},
                                                  {Header, "header"},   {Marked, "marked"}, {Selected, "selected"},
                                                  {Normal, "normal"}};
    auto* grid = new QGridLayout(this);
    m_panel = new QWidget(this);
    m_panel->setObjectName("panel");
    m_panel->setAutoFillBackground(true);
    m_panel->setMinimumWidth(kColourPanelWidth);
    auto* panelLayout = new QVBoxLayout(m_panel);
    grid->addWidget(m_panel, 0, 0, kColourCount, 1);
    auto addSelect = [this, grid](int slot, int row) {
        selectbtn[slot] = button(this, "select", qPrintable(QString("select%1").arg(slot)));
        grid->addWidget(selectbtn[slot], row, 2);
        connect(selectbtn[slot], &QPushButton::clicked, this, [this, slot] { choose(slot); });
    };
    grid->addWidget(new QLabel("background", this), 0, 1);
    addSelect(Background, 0);
    int row = 1;
    for (const auto& [slot, caption] : labels) {
        m_labels[slot] = new QLabel(caption, m_panel);
        m_labels[slot]->setObjectName(caption);
        panelLayout->addWidget(m_labels[slot]);
        grid->addWidget(new QLabel(caption, this), row, 1);
        addSelect(slot, row++);
    }
    grid->addLayout(okCancelRow(this, okbtn, cancelbtn), kColourCount, 0, 1, 3);
    okbtn->setDefault(true);
    connect(okbtn, &QPushButton::clicked, this, [this] { done(ui::kResultOk); });
    connect(cancelbtn, &QPushButton::clicked, this, [this] { done(ui::kResultCancel); });
}

void Tcol::setColours(const Colours& colours) {
    m_colours = colours;
    showColours();
}

void Tcol::showColours() {
    QPalette pal = m_panel->palette();
    pal.setColor(QPalette::Window, colorFromSetting(m_colours[Background]));
    m_panel->setPalette(pal);
    for (int slot = Normal; slot < kColourCount; ++slot) {
        QPalette p = m_labels[slot]->palette();
        p.setColor(QPalette::WindowText, colorFromSetting(m_colours[slot]));
        m_labels[slot]->setPalette(p);
    }
}

void Tcol::choose(int slot) {
    QColor colour = colorFromSetting(m_colours[slot]);
    if (!chooseColour || !chooseColour(colour)) return;
    m_colours[slot] = settingFromColor(colour);
    showColours();
}

void Tcol::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    okbtn->setFocus();
}

int Tcol::ask() { return ui::execDialog(*this); }
