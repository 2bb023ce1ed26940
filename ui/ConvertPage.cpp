#include "ui/ConvertPage.h"

#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QVBoxLayout>
#include <utility>

#include "convert/ConvertJob.h"
#include "convert/ConvertSettings.h"
#include "convert/OutputNames.h"
#include "pensets/PenSet.h"
#include "ui/BannerPicture.h"
#include "ui/ConvertAnimation.h"
#include "ui/MessageBoxes.h"
#include "ui/ReportDlg.h"

namespace {

QString FromRun(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QStringList PathList(const std::vector<std::string>& paths) {
  QStringList list;
  for (const std::string& path : paths) list.append(QFile::decodeName(path.c_str()));
  return list;
}

// The status line: one line that never widens the fixed-size wizard; a long drawing path loses
// its middle. text() keeps the whole line.
class CStatusLine : public QLabel {
 public:
  explicit CStatusLine(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setTextFormat(Qt::PlainText);
  }
  QSize minimumSizeHint() const override { return QSize(0, QLabel::minimumSizeHint().height()); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, shown);
  }
};

}  // namespace

// The run's side of the page. The run calls it from its thread, and from this one where the page
// itself starts and stops it; calls from the run's thread are queued to the page, so that only
// this thread touches the widgets and the run never waits for the window.
class CConvertPage::CPageListener : public CConvertListener {
 public:
  explicit CPageListener(CConvertPage& owner) : page(owner) {}

  void AppendLog(std::string_view text) override {
    Deliver([this, line = FromRun(text)] { page.ShowLogLine(line); });
  }
  void SetStatusText(std::string_view text) override {
    if (OnPageThread()) {
      page.ShowStatus(FromRun(text));
      return;
    }
    // A text the run sent just before it saw the stop would hide the stopping notice.
    Post([this, line = FromRun(text)] {
      if (!page.stopping) page.ShowStatus(line);
    });
  }
  void SetProgressRange(int count) override {
    Deliver([this, count] {
      // A range of 0 to 0 would make the bar an endless busy indicator.
      page.progressBar->setRange(0, count > 0 ? count : 1);
      page.progressBar->setValue(0);
      page.progressBar->show();
    });
  }
  void StepProgress() override {
    Deliver([this] {
      QProgressBar* bar = page.progressBar;
      if (bar->value() < bar->maximum()) bar->setValue(bar->value() + 1);
    });
  }
  void ShowMessage(std::string_view text) override {
    Deliver([this, message = FromRun(text)] { page.ShowRunMessage(message); });
  }
  void RunFinished(RunResult result) override {
    // Queued: the page handles it after everything else the run sent.
    Q_EMIT page.ConvertFinished(static_cast<int>(result));
  }

 private:
  bool OnPageThread() const { return QThread::currentThread() == page.thread(); }
  template <typename F>
  void Post(F call) {
    // Dropped with the page should it be gone by the time the queue reaches it.
    QMetaObject::invokeMethod(&page, std::move(call), Qt::QueuedConnection);
  }
  template <typename F>
  void Deliver(F call) {
    if (OnPageThread()) {
      call();
    } else {
      Post(std::move(call));
    }
  }

  CConvertPage& page;
};

CConvertPage::CConvertPage(CConvertSettings& convertSettings, CWizardDlg& owner, QWidget* parent)
    : CCommonPage(parent),
      settings(convertSettings),
      wizard(owner),
      listener(std::make_unique<CPageListener>(*this)),
      job(std::make_unique<CConvertJob>(*listener)) {
  QVBoxLayout* body = MakeStepLayout(tr("Convert drawing files to PDF file(s)  - [4 / 4]"));
  animation = new CConvertAnimation(Banner());

  hint = new QLabel(tr("Click \"Convert Now!\" button to start..."), this);
  body->addWidget(hint);

  logBox = new QPlainTextEdit(this);
  logBox->setReadOnly(true);
  logBox->setLineWrapMode(QPlainTextEdit::NoWrap);
  logBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  logBox->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  // Selectable and copyable by keyboard as well, for a bug report.
  logBox->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  body->addWidget(logBox, 1);

  statusLine = new CStatusLine(this);
  body->addWidget(statusLine);

  auto* row = new QHBoxLayout;
  row->setSpacing(12);
  progressBar = new QProgressBar(this);
  progressBar->setFormat(tr("%v / %m"));
  // The bar comes and goes with the runs; the button stays where it is.
  QSizePolicy barPolicy = progressBar->sizePolicy();
  barPolicy.setRetainSizeWhenHidden(true);
  progressBar->setSizePolicy(barPolicy);
  progressBar->hide();
  row->addWidget(progressBar, 1);
  convertButton = new QPushButton(tr("&Convert Now!"), this);
  // Wide enough for either text, so the button does not jump when it changes.
  convertButton->setMinimumWidth(120);
  row->addWidget(convertButton);
  body->addLayout(row);

  // The end of the run: sent from the run's thread, handled on this one.
  connect(this, &CConvertPage::ConvertFinished, this, &CConvertPage::OnConvertFinished,
          Qt::QueuedConnection);
  connect(convertButton, &QPushButton::clicked, this, &CConvertPage::OnConvert);
}

CConvertPage::~CConvertPage() {
  job->StopFlag = true;
  job.reset();
}

void CConvertPage::OnEnterPage() {
  convertButton->setFocus();
}

void CConvertPage::OnConvert() {
  if (!running) {
    StartRun();
    return;
  }
  // Set first, so that a status text the run queued before it sees the stop is dropped.
  stopping = true;
  job->Stop();
}

void CConvertPage::StartRun() {
  wizard.StoreAllSettings();
  wizard.SetRunControl(this);
  wizard.SetBusy(true);
  running = true;
  stopping = false;
  pendingFinish.reset();
  logBox->clear();
  convertButton->setText(tr("Stop"));
  // Start logs "Starting converting...", clears the status line and the result lists and sets
  // the progress range.
  // The run works on copies: the settings as the pages left them and the current pen set.
  // An output folder is kept with its trailing separator, the form in which it is saved.
  if (settings.PdfType != OutputType::Merged)
    settings.TargetPdf = WithTrailingSeparator(settings.TargetPdf);
  job->Jobs = 0;  // as many drawings at once as the machine has cores
  if (!job->Start(settings, CurrentPenSet())) {
    running = false;
    convertButton->setText(tr("&Convert Now!"));
    wizard.SetBusy(false);
    progressBar->hide();
    MessageBoxes().ShowMessage(this, tr("Can not start the convert process!"));
    return;
  }
  animation->Start([this] { return job->RunningFlag.load(); });
}

void CConvertPage::StopRun() {
  if (running) OnConvert();
}

void CConvertPage::WaitForRun() {
  job->Wait();
}

QStringList CConvertPage::ResultFiles() const {
  return running ? QStringList() : PathList(job->ResultFiles);
}

QStringList CConvertPage::FailedFiles() const {
  return running ? QStringList() : PathList(job->FailedFiles);
}

void CConvertPage::OnConvertFinished(int value) {
  if (openMessages > 0) {
    pendingFinish = value;
    return;
  }
  if (!running) return;
  // The run's thread sent this as its last act; it has ended or is about to.
  job->Wait();
  const auto result = static_cast<RunResult>(value);
  animation->Stop();
  convertButton->setText(tr("&Convert Now!"));
  wizard.SetBusy(false);
  running = false;
  stopping = false;
  ShowStatus(QString());
  if (result == RunResult::UserBreak) {
    progressBar->hide();
    Q_EMIT RunEnded(value);
    return;
  }
  job->LogRunEnd(result);
  CReportDlg report(this);
  report.SetResultFiles(ResultFiles());
  report.SetOutcome(result, static_cast<int>(job->FailedFiles.size()));
  QStringList failures;
  for (const CDrawingReport& drawing : job->Reports) {
    if (drawing.result == RunResult::Done) continue;
    failures << QDir::toNativeSeparators(QString::fromStdString(drawing.path)) + ": " +
                    QString::fromStdString(drawing.reason);
  }
  report.SetFailures(failures);
  report.exec();
  progressBar->hide();
  convertButton->setFocus();
  Q_EMIT RunEnded(value);
}

void CConvertPage::ShowRunMessage(const QString& text) {
  ++openMessages;
  MessageBoxes().ShowMessage(this, text);
  --openMessages;
  if (openMessages == 0 && pendingFinish) {
    const int value = *pendingFinish;
    pendingFinish.reset();
    OnConvertFinished(value);
  }
}

void CConvertPage::ShowLogLine(const QString& text) {
  // A text that ends in a line break leaves an empty line after it.
  QString line = text;
  line.replace("\r\n", "\n");
  // The log follows the run unless the user scrolled up to read.
  QScrollBar* bar = logBox->verticalScrollBar();
  const bool following = bar->value() >= bar->maximum();
  logBox->appendPlainText(line);
  if (following) bar->setValue(bar->maximum());
  Q_EMIT LogAppended(text);
}

void CConvertPage::ShowStatus(const QString& text) {
  statusLine->setText(text);
  statusLine->repaint();
}
