#pragma once

#include <QWidget>

class CBannerPicture;
class CLabel;
class QGridLayout;
class QLabel;
class QVBoxLayout;

// The base of every wizard page. The wizard asks a page whether the user may leave it by
// "Next" (CanLeave), tells it when it is shown and hidden, and has every page hand its values
// to the conversion settings when a run starts (StoreSettings) — never earlier, so options
// changed without a later run are not saved.
//
// Enter and Escape inside a page close nothing: a page takes both keys for itself when no
// control on it wanted them.
class CCommonPage : public QWidget {
  Q_OBJECT

 public:
  explicit CCommonPage(QWidget* parent = nullptr);

  // False keeps the wizard on this page; the page has then told the user why.
  virtual bool CanLeave() { return true; }
  // Copies the page's values into the conversion settings.
  virtual void StoreSettings() {}
  virtual void OnEnterPage() {}
  virtual void OnLeavePage() {}

  // Asks the wizard to update its navigation buttons.
  void UpdateParentButtons();

  // The heading shown in the page's banner; empty for a page without banner.
  QString Heading() const;
  // The banner across the top of the page, or null.
  CBannerPicture* Banner() const { return banner; }

 Q_SIGNALS:
  void NavigationChanged();

 protected:
  // Puts the banner with the heading across the top of the page and returns the layout of the
  // area below it, which the page fills with its controls.
  QVBoxLayout* MakeStepLayout(const QString& heading);

  // A label whose mnemonic moves the focus to buddy.
  QLabel* BuddyLabel(const QString& text, QWidget* buddy);
  // The grid of labels and fields of an option page, with the pages' spacing.
  static QGridLayout* MakeOptionGrid();

  void keyPressEvent(QKeyEvent* event) override;

 private:
  CBannerPicture* banner = nullptr;
  CLabel* headingLabel = nullptr;
};
