// Small modal dialogs every window uses: the information box with one OK
// button and the yes/no question. Tests replace them with recorders, so a
// headless run never blocks on a box.
#pragma once

#include <QString>

#include <functional>

class QDialog;
class QHBoxLayout;
class QPushButton;
class QWidget;

namespace ui {

// Dialog results: 1 ok / yes, 2 cancel / no.
inline constexpr int kResultOk = 1;
inline constexpr int kResultCancel = 2;

void informationBox(QWidget* parent, const QString& text);
// 1 for yes, 2 for no.
int questionBox(QWidget* parent, const QString& text);

// Test hooks: while set, the boxes call these instead of showing anything.
void setInformationHook(std::function<void(const QString&)> hook);
void setQuestionHook(std::function<int(const QString&)> hook);
// The one-line entry: the hook gets the caption, fills the text and returns
// the dialog result.
void setEntryHook(std::function<int(const QString& caption, QString& text)> hook);

// The program's own modal dialogs (settings, pickers): while set, showing
// one calls the hook with it instead, and the hook's result is the dialog's.
void setDialogHook(std::function<int(QDialog& dialog)> hook);
// Shows the dialog modally, or hands it to the hook; 1 or 2.
int execDialog(QDialog& dialog);

// The row of "ok" (the default button) and "cancel" at the right of a
// small dialog; cancel ends the dialog with kResultCancel, ok is left to
// the caller.
QHBoxLayout* okCancelRow(QDialog* dialog, QPushButton*& ok, QPushButton*& cancel);

// The hooks in force (empty when none), for the program's own prompts.
const std::function<int(const QString&)>& questionHook();
const std::function<int(const QString&, QString&)>& entryHook();

}  // namespace ui
