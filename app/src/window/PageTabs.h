// A page control whose tabs wrap onto as many rows as their texts need, as a
// multi-line page control does: every tab shows whole, none behind scroll
// arrows. The rows are laid out from the tab bar's font (each tab as wide as
// the style makes it for its text), stretched to the bar's width when there
// is more than one, and the row of the current tab is the one next to the
// pages. Everything else is Qt's own tab widget.
#pragma once

#include <QTabBar>
#include <QTabWidget>

#include <vector>

class TPageTabBar : public QTabBar {
 public:
  explicit TPageTabBar(QWidget* AParent = nullptr);

  // Where tab AIndex is drawn and clicked; empty for a hidden tab.
  QRect RowTabRect(int AIndex) const;
  int RowCount() const { return m_rows; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void tabLayoutChange() override;
  void resizeEvent(QResizeEvent* AEvent) override;
  void paintEvent(QPaintEvent* AEvent) override;
  void mousePressEvent(QMouseEvent* AEvent) override;
  void mouseMoveEvent(QMouseEvent* AEvent) override;
  void mouseReleaseEvent(QMouseEvent* AEvent) override;
  bool event(QEvent* AEvent) override;

 private:
  // The width the rows are laid out for: the tab widget's.
  int RowWidth() const;
  // The rows for AWidth: the tabs of each row, top to bottom; the height of
  // one row.
  std::vector<std::vector<int>> Rows(int AWidth, int* ARowHeight) const;
  void LayOut();
  int TabAtPoint(const QPoint& APos) const;

  std::vector<QRect> m_rects;  // by tab index
  int m_rows = 0;
  int m_rowHeight = 0;
  int m_hover = -1;
};

// The tab widget with the wrapping tab bar.
class TPageControl : public QTabWidget {
 public:
  explicit TPageControl(QWidget* AParent = nullptr);
  TPageTabBar* PageTabBar() const { return m_bar; }

 private:
  TPageTabBar* m_bar;
};
