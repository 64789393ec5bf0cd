#pragma once
// The rows of the help menu: the loading row (a small spinner and
// "Downloading articles...") and one row per article (its title, a
// two-line excerpt and a "Read" button that opens it).

#include <QWidget>

#include <functional>

#include "desktop/popover/HelpArticles.h"

namespace vantorel {

QWidget* MakeLoadingRow(QWidget* parent);

class ArticleRow : public QWidget {
public:
  static constexpr int kWidth = 300;
  ArticleRow(const HelpArticle& article, std::function<void(const std::string& link)> openLink, QWidget* parent);
};

}  // namespace vantorel
