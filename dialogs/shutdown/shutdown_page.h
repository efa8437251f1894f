// ShutdownPage: the pattern the four shutdown-parameter pages share. Each is a modeless
// dialog, one of a kind at a time, whose parent is the time line (CShutdownDlg); it edits
// gScp's configuration, notification and receptacle blocks and sends nothing: the time line
// sends the blocks when the user confirms it.
//
//   validate  reads the controls and checks them; on failure one box with the error icon
//   apply     writes the values into gScp's blocks; the last failure text in one box
//   OK        validate, apply, repaint the time line, close; Cancel closes without applying
//   Next/Back validate, apply, then show the target page (raised when it is open, this page
//             stays; else created, this page closed)
//
// Without "Next >>>" the four remaining buttons sit centred: OK and Cancel left of the centre,
// Back and Help right of it. A "Next >>>" shown is enabled only while there is a page for it to
// open: the functions of the UPS it depends on may change while the page is open (an agent
// that restarts, a UPS found anew), so it is checked again every second.
#pragma once

#include <QPointer>
#include <QString>
#include <optional>

#include "dialogs/frame/kt_dialog.h"

class QHBoxLayout;
class QPushButton;

enum class ShutdownPageId { Ups, Programs, LoadSegment, Clients };

inline constexpr int IDC_PAGE_NEXT = 1868;
inline constexpr int IDC_PAGE_BACK = 1885;

class ShutdownPage : public KTDialog {
  Q_OBJECT

 public:
  ShutdownPage(ShutdownPageId id, int templateId, QWidget* parent, const QString& hostName);
  ~ShutdownPage() override;

  ShutdownPageId PageId() const { return id_; }

  virtual bool Validate() = 0;
  virtual bool Apply() = 0;
  void OnOK() override;
  virtual void OnNext() {}
  virtual void OnBack() {}
  // The page "Next >>>" opens now; none when there is none to open.
  virtual std::optional<ShutdownPageId> NextPage() const { return std::nullopt; }

  // The open page of a kind, or null.
  static ShutdownPage* OpenPage(ShutdownPageId id);
  // Creates a page with the time line (when open) as parent.
  static ShutdownPage* CreatePage(ShutdownPageId id, QWidget* parent, const QString& hostName);
  // Forgets every page (the time line does when it is built).
  static void ForgetPages();

  // Which pages the agent's UPS offers: load segments (3, 7), network clients (2, 1).
  static bool OffersLoadSegments();
  static bool OffersClients();

 protected:
  // Validates and applies, then shows `target`: true when this page is to close.
  bool GoTo(ShutdownPageId target);
  // The row of page buttons; with `next` false it is centred as described above.
  QHBoxLayout* MakePageButtons(bool next, bool back);
  // Repaints the time line when it is open.
  static void RepaintTimeLine();
  // Message boxes of the pages: validation errors carry the error icon.
  void Refuse(const QString& text);
  void OnTimer(int timerId) override;
  bool event(QEvent* e) override;

 private:
  static constexpr int kNextTimerId = 40;
  static constexpr int kNextCheckMs = 1000;
  // Enables "Next >>>" when NextPage has a page for it.
  void UpdateNextButton();

  ShutdownPageId id_;
  QPointer<QPushButton> next_button_;
};
