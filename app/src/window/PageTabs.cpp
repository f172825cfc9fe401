#include "PageTabs.h"

#include <QHoverEvent>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStyleOptionTab>
#include <QStylePainter>

#include <algorithm>

TPageTabBar::TPageTabBar(QWidget* AParent) : QTabBar(AParent) {
  // Qt's own single row would hide tabs behind arrows or shorten their
  // texts; neither may happen here.
  setUsesScrollButtons(false);
  setElideMode(Qt::ElideNone);
  setDrawBase(false);
  connect(this, &QTabBar::currentChanged, this, [this] { LayOut(); });
}

QRect TPageTabBar::RowTabRect(int AIndex) const {
  return AIndex >= 0 && AIndex < int(m_rects.size()) ? m_rects[AIndex] : QRect();
}

int TPageTabBar::RowWidth() const { return parentWidget() ? parentWidget()->width() : width(); }

std::vector<std::vector<int>> TPageTabBar::Rows(int AWidth, int* ARowHeight) const {
  std::vector<std::vector<int>> rows;
  int used = 0;
  *ARowHeight = 0;
  for (int i = 0; i < count(); ++i) {
    if (!isTabVisible(i)) continue;
    const QSize tab = tabSizeHint(i);
    *ARowHeight = std::max(*ARowHeight, tab.height());
    // A tab that does not fit into the row begins the next one; a row holds
    // at least one tab, however wide.
    if (rows.empty() || (used + tab.width() > AWidth && !rows.back().empty())) {
      rows.emplace_back();
      used = 0;
    }
    rows.back().push_back(i);
    used += tab.width();
  }
  return rows;
}

void TPageTabBar::LayOut() {
  const int width = RowWidth();
  int rowHeight = 0;
  std::vector<std::vector<int>> rows = Rows(width, &rowHeight);
  // The current tab's row goes next to the pages, as it does on a
  // multi-line page control; the others keep their order above it.
  const auto current = std::find_if(rows.begin(), rows.end(), [this](const std::vector<int>& ARow) {
    return std::find(ARow.begin(), ARow.end(), currentIndex()) != ARow.end();
  });
  if (current != rows.end()) std::rotate(current, current + 1, rows.end());

  m_rects.assign(size_t(count()), QRect());
  for (size_t r = 0; r < rows.size(); ++r) {
    const std::vector<int>& row = rows[r];
    int natural = 0;
    for (int i : row) natural += tabSizeHint(i).width();
    // Several rows fill the bar's width, each tab taking its share of what
    // is left; a single row keeps the tabs as wide as their texts.
    const int extra = rows.size() > 1 ? std::max(0, width - natural) : 0;
    int x = 0;
    for (size_t k = 0; k < row.size(); ++k) {
      const int share = extra / int(row.size()) + (k + 1 == row.size() ? extra % int(row.size()) : 0);
      const int w = tabSizeHint(row[k]).width() + share;
      m_rects[size_t(row[k])] = QRect(x, int(r) * rowHeight, w, rowHeight);
      x += w;
    }
  }
  const bool grew = m_rows != int(rows.size()) || m_rowHeight != rowHeight;
  m_rows = int(rows.size());
  m_rowHeight = rowHeight;
  if (grew) updateGeometry();
  update();
}

QSize TPageTabBar::sizeHint() const {
  int rowHeight = 0;
  const auto rows = Rows(RowWidth(), &rowHeight);
  if (rows.empty()) return QTabBar::sizeHint();
  return QSize(RowWidth(), int(rows.size()) * rowHeight);
}

QSize TPageTabBar::minimumSizeHint() const { return QSize(0, sizeHint().height()); }

void TPageTabBar::tabLayoutChange() {
  QTabBar::tabLayoutChange();
  LayOut();
}

void TPageTabBar::resizeEvent(QResizeEvent* AEvent) {
  QTabBar::resizeEvent(AEvent);
  LayOut();
}

int TPageTabBar::TabAtPoint(const QPoint& APos) const {
  for (size_t i = 0; i < m_rects.size(); ++i)
    if (m_rects[i].contains(APos)) return int(i);
  return -1;
}

void TPageTabBar::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  // The shown tab next to AIndex in its row (rows hold tabs in index
  // order), for the style's joins between tabs; -1 at the row's end.
  auto neighbour = [this](int AIndex, int AStep) {
    for (int j = AIndex + AStep; j >= 0 && j < count(); j += AStep)
      if (!m_rects[size_t(j)].isEmpty()) return m_rects[size_t(j)].top() == m_rects[size_t(AIndex)].top() ? j : -1;
    return -1;
  };
  // The current tab last, over its neighbours.
  for (const bool selected : {false, true}) {
    for (int i = 0; i < count(); ++i) {
      if (m_rects[size_t(i)].isEmpty() || (i == currentIndex()) != selected) continue;
      QStyleOptionTab opt;
      initStyleOption(&opt, i);
      opt.rect = m_rects[size_t(i)];
      opt.text = tabText(i);
      opt.state.setFlag(QStyle::State_MouseOver, i == m_hover && isTabEnabled(i));
      const int before = neighbour(i, -1), after = neighbour(i, 1);
      opt.position = before < 0 && after < 0 ? QStyleOptionTab::OnlyOneTab
                     : before < 0           ? QStyleOptionTab::Beginning
                     : after < 0            ? QStyleOptionTab::End
                                            : QStyleOptionTab::Middle;
      opt.selectedPosition = before >= 0 && before == currentIndex() ? QStyleOptionTab::PreviousIsSelected
                             : after >= 0 && after == currentIndex() ? QStyleOptionTab::NextIsSelected
                                                                     : QStyleOptionTab::NotAdjacent;
      painter.drawControl(QStyle::CE_TabBarTab, opt);
      if (selected && hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = style()->subElementRect(QStyle::SE_TabBarTabText, &opt, this);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
      }
    }
  }
}

void TPageTabBar::mousePressEvent(QMouseEvent* AEvent) {
  // Other buttons go on to the page control (its context menu).
  if (AEvent->button() != Qt::LeftButton) {
    AEvent->ignore();
    return;
  }
  const int i = TabAtPoint(AEvent->position().toPoint());
  if (i >= 0 && isTabEnabled(i)) setCurrentIndex(i);
  AEvent->accept();
}

// Qt's own handlers look at its single row: no dragging of tabs here.
void TPageTabBar::mouseMoveEvent(QMouseEvent* AEvent) { AEvent->accept(); }

void TPageTabBar::mouseReleaseEvent(QMouseEvent* AEvent) { AEvent->accept(); }

bool TPageTabBar::event(QEvent* AEvent) {
  switch (AEvent->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
    case QEvent::HoverLeave: {
      const int hover = AEvent->type() == QEvent::HoverLeave
                            ? -1
                            : TabAtPoint(static_cast<QHoverEvent*>(AEvent)->position().toPoint());
      if (hover != m_hover) {
        m_hover = hover;
        update();
      }
      return true;
    }
    default:
      return QTabBar::event(AEvent);
  }
}

TPageControl::TPageControl(QWidget* AParent) : QTabWidget(AParent), m_bar(new TPageTabBar(this)) { setTabBar(m_bar); }
