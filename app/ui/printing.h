// Printing an item on the system's default printer: the header lines in one
// font, an empty line, then the body in another, with the page breaks the
// printer's page size makes. Long lines wrap at the page width.
#pragma once

#include <QFont>
#include <QString>

namespace ui {

enum class PrintResult { Printed, NoPrinter };

struct PrintJob {
    QString header;       // empty: no header block is printed
    bool hasHeader = true;
    QFont headerFont;
    QString body;
    bool hasBody = true;  // false: the body file was missing, only the header prints
    QFont bodyFont;
};

// Opens the default printer (or the test target below) and prints the job.
PrintResult printItem(const PrintJob& job);

// For tests and headless runs: while set, printing writes a PDF file at this
// path instead of using a printer. Empty restores the default printer.
void setPrintTarget(const QString& pdfPath);

}  // namespace ui
