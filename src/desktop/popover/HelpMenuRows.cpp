#include "desktop/popover/HelpMenuRows.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "desktop/helpers/WidgetHelpers.h"

namespace vantorel {

namespace {
// An arc that turns while it is shown; its timer runs only then.
class Spinner : public QWidget {
public:
  explicit Spinner(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
    setObjectName(QStringLiteral("progressIndicator"));
    setFixedSize(16, 16);
    timer_->setInterval(80);
    connect(timer_, &QTimer::timeout, this, [this] {
      angle_ = (angle_ + 30) % 360;
      update();
    });
  }

protected:
  void showEvent(QShowEvent*) override { timer_->start(); }
  void hideEvent(QHideEvent*) override { timer_->stop(); }
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(palette().color(QPalette::PlaceholderText), 2);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.drawArc(QRectF(2, 2, 12, 12), -angle_ * 16, 270 * 16);
  }

private:
  QTimer* timer_;
  int angle_ = 0;
};

QString Elided(const QFontMetrics& metrics, const QString& text, int width, int lines) {
  // Whole words over `lines` lines; the last one elided at its end.
  QString result;
  QString rest = text.simplified();
  for (int line = 0; line < lines && !rest.isEmpty(); ++line) {
    if (line == lines - 1 || metrics.horizontalAdvance(rest) <= width) {
      result += (result.isEmpty() ? QString() : QStringLiteral("\n")) + metrics.elidedText(rest, Qt::ElideRight, width);
      break;
    }
    int cut = static_cast<int>(rest.size());
    while (metrics.horizontalAdvance(rest.left(cut)) > width) {
      const int space = static_cast<int>(rest.lastIndexOf(u' ', cut - 1));
      if (space <= 0) {  // one long word: as many characters as fit
        cut = static_cast<int>(rest.size());
        while (cut > 1 && metrics.horizontalAdvance(rest.left(cut)) > width) --cut;
        break;
      }
      cut = space;
    }
    result += (result.isEmpty() ? QString() : QStringLiteral("\n")) + rest.left(cut);
    rest = rest.mid(cut).trimmed();
  }
  return result;
}
}  // namespace

QWidget* MakeLoadingRow(QWidget* parent) {
  auto* row = new QWidget(parent);
  row->setObjectName(QStringLiteral("loadingRow"));
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(12, 6, 12, 6);
  layout->addWidget(new Spinner(row));
  auto* label = new QLabel(QStringLiteral("Downloading articles..."), row);
  label->setObjectName(QStringLiteral("labelField"));
  layout->addWidget(label, 1);
  return row;
}

ArticleRow::ArticleRow(const HelpArticle& article, std::function<void(const std::string&)> openLink, QWidget* parent)
    : QWidget(parent) {
  setObjectName(QStringLiteral("articleRow"));
  setFixedWidth(kWidth);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(12, 6, 8, 6);
  auto* texts = new QVBoxLayout;
  texts->setSpacing(2);
  auto* title = new QLabel(QString::fromStdString(article.title), this);
  title->setObjectName(QStringLiteral("titleField"));
  title->setTextInteractionFlags(Qt::NoTextInteraction);
  title->setTextFormat(Qt::PlainText);
  QFont bold = title->font();
  bold.setWeight(QFont::DemiBold);
  title->setFont(bold);
  constexpr int kButtonWidth = 56;
  const int textWidth = kWidth - 12 - 8 - kButtonWidth - layout->spacing();
  title->setText(QFontMetrics(bold).elidedText(title->text(), Qt::ElideRight, textWidth));
  auto* excerpt = new QLabel(this);
  excerpt->setObjectName(QStringLiteral("excerptField"));
  excerpt->setTextFormat(Qt::PlainText);
  setSecondaryText(*excerpt, 0.9);
  excerpt->setText(Elided(QFontMetrics(excerpt->font()), QString::fromStdString(article.excerpt), textWidth, 2));
  title->setFixedWidth(textWidth);
  excerpt->setFixedWidth(textWidth);
  texts->addWidget(title);
  texts->addWidget(excerpt);
  layout->addLayout(texts, 1);
  auto* read = new QPushButton(QStringLiteral("Read"), this);
  read->setObjectName(QStringLiteral("openLink"));
  read->setFlat(true);
  read->setFixedWidth(kButtonWidth);
  read->setToolTip(PlainToolTip(QString::fromStdString(article.link)));
  const std::string link = article.link;
  connect(read, &QPushButton::clicked, this, [openLink, link] { openLink(link); });
  layout->addWidget(read, 0, Qt::AlignVCenter);
}

}  // namespace vantorel
