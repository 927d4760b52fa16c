#include "settings/fontform.h"

#include "settings/settings.h"
#include "ui/dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

int fontSizeInRange(int pointSize) {
    return std::clamp(pointSize, Tfontform::kSmallestSize, Tfontform::kLargestSize);
}

Tfontform::Tfontform(QWidget* parent) : QDialog(parent) {
    setObjectName("fontform");
    setWindowTitle("font");
    auto* grid = new QGridLayout;
    family = new QFontComboBox(this);
    family->setObjectName("family");
    // Fonts that draw on screen and print alike, in the system's characters.
    family->setFontFilters(QFontComboBox::ScalableFonts);
    size = new QComboBox(this);
    size->setObjectName("size");
    size->setEditable(true);
    for (int points = kSmallestSize; points <= kLargestSize; ++points) size->addItem(QString::number(points));
    grid->addWidget(new QLabel("font", this), 0, 0);
    grid->addWidget(family, 0, 1);
    grid->addWidget(new QLabel("size", this), 1, 0);
    grid->addWidget(size, 1, 1);
    auto* styles = new QHBoxLayout;
    styles->addWidget(bold = new QCheckBox("&bold", this));
    styles->addWidget(italic = new QCheckBox("&italic", this));
    styles->addWidget(underline = new QCheckBox("&underline", this));
    styles->addWidget(strikeout = new QCheckBox("&strike-out", this));
    sample = new QLabel("AaBbYyZz 0123", this);
    sample->setObjectName("sample");
    sample->setMinimumHeight(40);
    sample->setAlignment(Qt::AlignCenter);
    sample->setFrameShape(QFrame::StyledPanel);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okbtn = new QPushButton("ok", this));
    buttons->addWidget(cancelbtn = new QPushButton("cancel", this));
    okbtn->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(styles);
    layout->addWidget(sample);
    layout->addLayout(buttons);
    connect(okbtn, &QPushButton::clicked, this, &Tfontform::okClicked);
    connect(cancelbtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(family, &QFontComboBox::currentFontChanged, this, &Tfontform::showSample);
    connect(size, &QComboBox::currentTextChanged, this, &Tfontform::showSample);
    for (QCheckBox* box : {bold, italic, underline, strikeout})
        connect(box, &QCheckBox::toggled, this, &Tfontform::showSample);
}

int Tfontform::ask(const QFont& font) {
    m_font = font;
    family->setCurrentFont(font);
    size->setEditText(QString::number(fontSizeInRange(font.pointSize())));
    bold->setChecked(font.bold());
    italic->setChecked(font.italic());
    underline->setChecked(font.underline());
    strikeout->setChecked(font.strikeOut());
    showSample();
    return ui::execDialog(*this) == ui::kResultOk ? ui::kResultOk : ui::kResultCancel;
}

QFont Tfontform::shownFont(int pointSize) const {
    QFont font = family->currentFont();
    font.setPointSize(pointSize);
    font.setBold(bold->isChecked());
    font.setItalic(italic->isChecked());
    font.setUnderline(underline->isChecked());
    font.setStrikeOut(strikeout->isChecked());
    return font;
}

void Tfontform::showSample() {
    bool number = false;
    const int points = size->currentText().trimmed().toInt(&number);
    sample->setFont(shownFont(number ? fontSizeInRange(points) : kSmallestSize));
}

void Tfontform::okClicked() {
    int points = 0;
    try {
        points = omail::strictToInt(size->currentText().toLocal8Bit().toStdString());
    } catch (const omail::InvalidInteger& e) {
        ui::informationBox(this, QString::fromStdString(e.what()));
        return;
    }
    if (points != fontSizeInRange(points)) {
        ui::informationBox(this, QString("the size must be from %1 to %2").arg(kSmallestSize).arg(kLargestSize));
        return;
    }
    m_font = shownFont(points);
    done(ui::kResultOk);
}
