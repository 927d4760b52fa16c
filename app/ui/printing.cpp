#include "ui/printing.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QStringList>
#include <QTextLayout>

#include <memory>

namespace ui {

namespace {

QString& printTarget() {
    static QString target;
    return target;
}

std::unique_ptr<QPrinter> openPrinter() {
    if (!printTarget().isEmpty()) {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(printTarget());
        return printer;
    }
    // A default-constructed printer falls back to a PDF writer with no file
    // when there is no print server, so ask for a real queue first.
    QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) return nullptr;
    return std::make_unique<QPrinter>(info, QPrinter::HighResolution);
}

// Draws lines top to bottom, wrapping at the page width and starting a new
// page when the next line does not fit.
class PageWriter {
public:
    PageWriter(QPrinter& printer, QPainter& painter)
        : m_printer(printer), m_painter(painter),
          m_page(printer.pageLayout().paintRectPixels(printer.resolution())) {
        m_page.moveTo(0, 0);
    }

    void setFont(const QFont& font) {
        m_font = font;
        m_painter.setFont(font);
        m_painter.setPen(Qt::black);
    }

    void writeLines(const QString& text) {
        QStringList lines = text.split('\n');
        if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
        for (QString& line : lines) {
            if (line.endsWith('\r')) line.chop(1);
            writeLine(line);
        }
    }

    void writeLine(const QString& line) {
        QTextLayout layout(line, m_font, &m_printer);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        qreal height = 0;
        for (QTextLine l = layout.createLine(); l.isValid(); l = layout.createLine()) {
            l.setLineWidth(m_page.width());
            l.setPosition(QPointF(0, height));
            height += l.height();
        }
        layout.endLayout();
        if (layout.lineCount() == 0) height = QFontMetricsF(m_font, &m_printer).lineSpacing();
        for (int i = 0; i < layout.lineCount(); ++i) {
            QTextLine l = layout.lineAt(i);
            if (m_y + l.height() > m_page.height() && m_y > 0) newPage();
            l.draw(&m_painter, QPointF(0, m_y - l.y()));
            m_y += l.height();
        }
        if (layout.lineCount() == 0) {
            if (m_y + height > m_page.height()) newPage();
            m_y += height;
        }
    }

private:
    void newPage() {
        m_printer.newPage();
        m_painter.setFont(m_font);
        m_painter.setPen(Qt::black);
        m_y = 0;
    }

    QPrinter& m_printer;
    QPainter& m_painter;
    QRectF m_page;
    QFont m_font;
    qreal m_y = 0;
};

}  // namespace

void setPrintTarget(const QString& pdfPath) { printTarget() = pdfPath; }

PrintResult printItem(const PrintJob& job) {
    std::unique_ptr<QPrinter> printer = openPrinter();
    if (!printer) return PrintResult::NoPrinter;
    printer->setDocName("orrindel mail item");
    QPainter painter;
    if (!painter.begin(printer.get())) return PrintResult::NoPrinter;
    PageWriter writer(*printer, painter);
    if (job.hasHeader) {
        writer.setFont(job.headerFont);
        writer.writeLines(job.header);
    }
    if (job.hasBody) {
        writer.setFont(job.bodyFont);
        writer.writeLine(QString());
        writer.writeLines(job.body);
    }
    painter.end();  // ejects the last page
    return PrintResult::Printed;
}

}  // namespace ui
