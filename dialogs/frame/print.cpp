#include "dialogs/frame/print.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <atomic>
#include <mutex>

#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"

namespace {

std::atomic<PrintDialogLayer*> g_layer{nullptr};
std::mutex g_observer_mutex;
PrintLineObserver g_observer;

int Fail(QWidget* owner) {
  AppMessageBox(owner, LoadString(IDS_PRINT_FAILED), MB_OK | MB_ICONEXCLAMATION);
  return -1;
}

// A line of the file without its LF or CR LF end.
QString StripLineEnd(QByteArray line) {
  if (line.endsWith('\n')) line.chop(1);
  if (line.endsWith('\r')) line.chop(1);
  return QString::fromLocal8Bit(line);
}

}  // namespace

bool QtPrintDialogLayer::Choose(QPrinter& printer, QWidget* owner) {
  QPrintDialog dialog(&printer, owner);
  // No selection, no page numbers, no print-to-file box.
  dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
  dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
  dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
  dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
  return dialog.exec() == QDialog::Accepted;
}

bool PdfPrintDialog::Choose(QPrinter& printer, QWidget*) {
  ++count_;
  if (!accept_) return false;
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(path_);
  return true;
}

PrintDialogLayer& GetPrintDialogLayer() {
  static QtPrintDialogLayer qtLayer;
  PrintDialogLayer* layer = g_layer.load();
  return layer != nullptr ? *layer : qtLayer;
}

void SetPrintDialogLayer(PrintDialogLayer* layer) {
  g_layer.store(layer);
}

void SetPrintLineObserver(PrintLineObserver observer) {
  std::lock_guard<std::mutex> lock(g_observer_mutex);
  g_observer = std::move(observer);
}

int PrintTextFile(QWidget* owner, const QString& path) {
  QPrinter printer(QPrinter::HighResolution);
  if (!GetPrintDialogLayer().Choose(printer, owner)) return 0;

  QFile file(path);
  if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return Fail(owner);

  printer.setDocName(path);
  QPainter painter;
  if (!painter.begin(&printer)) return Fail(owner);  // no device or the document cannot start
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSize(10);
  painter.setFont(font);
  const int lineHeight =
      QFontMetrics(painter.font(), &printer).size(Qt::TextSingleLine, QStringLiteral("WWW")).height();
  const int pageHeight = printer.height();
  const int pageWidth = printer.width();
  if (lineHeight <= 0 || pageHeight <= lineHeight) {
    painter.end();
    return Fail(owner);
  }

  PrintLineObserver observer;
  {
    std::lock_guard<std::mutex> lock(g_observer_mutex);
    observer = g_observer;
  }

  int page = 1;
  int y = 0;
  bool failed = false;
  while (!failed && !file.atEnd()) {
    const QByteArray raw = file.readLine();
    if (raw.isEmpty() && file.error() != QFileDevice::NoError) {
      failed = true;
      break;
    }
    const QString line = StripLineEnd(raw);
    // At most 255 characters per printed line; a longer line goes on in the next.
    for (int start = 0; start == 0 || start < line.size(); start += kPrintLineMax) {
      if (pageHeight - lineHeight < y) {
        if (!printer.newPage()) {
          failed = true;
          break;
        }
        ++page;
        y = 0;
      }
      const QString piece = line.mid(start, kPrintLineMax);
      painter.drawText(QRect(0, y, pageWidth, lineHeight), Qt::AlignLeft | Qt::AlignTop | Qt::TextExpandTabs,
                       piece);
      if (observer) observer(page, y, piece);
      y += lineHeight;
    }
  }
  const bool ended = painter.end();
  file.close();
  if (failed || !ended) return Fail(owner);
  return 1;
}
