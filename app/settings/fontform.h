// The font dialog of the general settings: a family, a size from the few the
// lists are drawn well in, and the four styles. The size is typed or chosen;
// ok takes it by the strict integer conversion, and a size that is no number
// or out of range keeps the dialog open.
#pragma once

#include <QDialog>
#include <QFont>

class QCheckBox;
class QComboBox;
class QFontComboBox;
class QLabel;
class QPushButton;

class Tfontform : public QDialog {
    Q_OBJECT
public:
    static constexpr int kSmallestSize = 7;
    static constexpr int kLargestSize = 12;

    explicit Tfontform(QWidget* parent = nullptr);

    // Starts from `font` (its size brought into range); 1 after ok with the
    // chosen font in font(), 2 after cancel.
    int ask(const QFont& font);
    QFont font() const { return m_font; }

    QFontComboBox* family = nullptr;
    QComboBox* size = nullptr;
    QCheckBox *bold = nullptr, *italic = nullptr, *underline = nullptr, *strikeout = nullptr;
    QLabel* sample = nullptr;
    QPushButton *okbtn = nullptr, *cancelbtn = nullptr;

private:
    void okClicked();
    void showSample();
    QFont shownFont(int pointSize) const;

    QFont m_font;
};

// A point size the font dialog offers: below it the smallest, above it the largest.
int fontSizeInRange(int pointSize);
