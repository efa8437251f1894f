// ShutdownPage: the pattern the four shutdown-parameter pages share. Each is a modeless
// dialog, one of a kind at a time, whose parent is the time line (CShutdownDlg); it edits
// gScp's configuration, notification and receptacle blocks and sends nothing: the time line
// sends the blocks when the user confirms it.
//
//   validate  reads the controls and checks them; on failure one box with the error icon
//   apply     writes the values into gScp's blocks; the last failure text in one box
//   OK        validate, apply, repaint the time line, close; Cancel closes without applying
//   Next      validate, apply, then show the target page (raised when it is open, this page
//             stays; else created, this page closed)
//   Back      as Next while the page's values pass; otherwise nothing is applied and no box
//             shown: the page stays open with what was entered, behind the page before it, so
//             that the user can change there what this page's values depend on (going back
//             never needs a valid page)
//
// A page opens with values it accepts for the agent's UPS. Where a value held in the blocks
// is not one of them (a Smart-UPS takes 3, 5 or 10 minutes for the operating system, and the
// total battery time must hold the wait before the shutdown and the operating system's
// time), the page shows the nearest one that is, and says so in a note above its buttons:
// the value shown is what OK sets, and Cancel leaves the blocks as they were. Opening a page
// changes nothing in the blocks.
//
// Without "Next >>>" the four remaining buttons sit centred: OK and Cancel left of the centre,
// Back and Help right of it. A "Next >>>" shown is enabled only while there is a page for it to
// open: the functions of the UPS it depends on may change while the page is open (an agent
// that restarts, a UPS found anew), so it is checked again every second.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <optional>

#include "dialogs/frame/kt_dialog.h"

class QHBoxLayout;
class QLabel;
class QPushButton;
class UpsInfoBlock;

enum class ShutdownPageId { Ups, Programs, LoadSegment, Clients };

inline constexpr int IDC_PAGE_NEXT = 1868;
inline constexpr int IDC_PAGE_BACK = 1885;
inline constexpr int IDC_PAGE_NOTE = 1869;

// The operating-system shutdown times, in whole minutes, that a UPS takes: a Smart-UPS (model
// 8 or 9) 3, 5 or 10; a UPS with long delays (function 3, 3) 1 to 479; any other 1 to 4.
struct OsTimeRule {
  bool smartUps = false;
  int maxMinutes = 4;

  static OsTimeRule Of(UpsInfoBlock& info);
  // The rule of gScp's UPS.
  static OsTimeRule Current();
  bool Accepts(int minutes) const;
  // The minutes a held time (seconds; 0xFFFF unset) is shown as: unset, 3 on a Smart-UPS and
  // 2 on any other; else rounded up to whole minutes and into the times the UPS takes. A
  // Smart-UPS takes the next of its times up, as it applies a held time itself.
  int Shown(uint16_t seconds) const;
  // "3, 5 or 10 minutes", "1 to 479 minutes".
  QString Range() const;
};

class ShutdownPage : public KTDialog {
  Q_OBJECT

 public:
  ShutdownPage(ShutdownPageId id, int templateId, QWidget* parent, const QString& hostName);
  ~ShutdownPage() override;

  ShutdownPageId PageId() const { return id_; }
  // The lines of the note on the values shown otherwise than held (none while it is hidden).
  const QStringList& FitNote() const { return fit_note_; }

  // Reads the controls and checks them: the text of the refusal, empty when they pass.
  virtual QString Check() = 0;
  // Check, its refusal shown in a box with the error icon; true when the values pass.
  virtual bool Validate();
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
  // Back to `target`: as GoTo while the values pass; otherwise `target` is shown with nothing
  // applied and this page stays open as it is (false).
  bool GoBack(ShutdownPageId target);
  // Raises `target` when it is open (false), else creates it (true: this page is to close).
  bool ShowPage(ShutdownPageId target);
  // The note above the buttons (hidden while empty), for the pages' layouts.
  QWidget* MakeFitNote();
  // Shows the lines of the values shown otherwise than held (none: the note is hidden).
  void ShowFitNote(const QStringList& lines);
  // One line of the note: "What: 3 minutes, was 2 minutes; why."
  static QString FitLine(const QString& what, int shownMinutes, int heldSeconds, const QString& why);
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
  QPointer<QWidget> note_;
  QPointer<QLabel> note_text_;
  QStringList fit_note_;
};
