// Printing of the text files that dialogs write (reports, logs), through a print dialog layer.
//
// PrintTextFile asks the layer for a printer (Qt's print dialog: no selection, no page
// numbers, no print-to-file box), then prints the file line by line: each line without its
// LF or CR LF end, tabs expanded, at x = 0, one "WWW"-high line after the other; a page is
// full when the next line would not fit. An empty file prints one empty page. Lines longer
// than 255 characters continue on the next printed line. Every failure shows "Unable to
// complete the print job." titled with the application's name.
//
// Tests install PdfPrintDialog (the printer becomes a PDF file) and a line observer that is
// told every line drawn (page from 1, y in device pixels, text).
#pragma once

#include <QString>
#include <functional>

class QPrinter;
class QWidget;

class PrintDialogLayer {
 public:
  virtual ~PrintDialogLayer() = default;
  // Sets the printer up; true when the user chose to print.
  virtual bool Choose(QPrinter& printer, QWidget* owner) = 0;
};

class QtPrintDialogLayer : public PrintDialogLayer {
 public:
  bool Choose(QPrinter& printer, QWidget* owner) override;
};

// Answers the print dialog without showing it: accepted, the printer writes a PDF file.
class PdfPrintDialog : public PrintDialogLayer {
 public:
  explicit PdfPrintDialog(QString path = QString(), bool accept = true)
      : path_(std::move(path)), accept_(accept) {}
  bool Choose(QPrinter& printer, QWidget* owner) override;
  void SetPath(const QString& path) { path_ = path; }
  void SetAccept(bool accept) { accept_ = accept; }
  int Count() const { return count_; }

 private:
  QString path_;
  bool accept_;
  int count_ = 0;
};

PrintDialogLayer& GetPrintDialogLayer();
// Not owned; nullptr restores Qt's print dialog.
void SetPrintDialogLayer(PrintDialogLayer* layer);

using PrintLineObserver = std::function<void(int page, int y, const QString& text)>;
// An empty observer removes it.
void SetPrintLineObserver(PrintLineObserver observer);

// 1 printed; 0 the user cancelled; -1 failed (after the message box).
int PrintTextFile(QWidget* owner, const QString& path);

// Most characters read as one printed line.
inline constexpr int kPrintLineMax = 255;
