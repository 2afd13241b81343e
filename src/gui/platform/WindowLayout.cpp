#include "platform/WindowLayout.h"

#include "app/ConfigInstance.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSplitter>
#include <QWidget>
#include <array>
#include <vector>

namespace {

// Larger than any screen; a stored size beyond it is not a size.
constexpr int LargestSize = 100000;

QString GeometryName(const QString &Key) {
    return Key + QStringLiteral("Geometry");
}

QString SizeName(const QString &Key) {
    return Key + QStringLiteral("Size");
}

QString ColumnsName(const QString &Key) {
    return Key + QStringLiteral("Columns");
}

QString SortName(const QString &Key) {
    return Key + QStringLiteral("Sort");
}

QString SplitterName(const QString &Key) {
    return Key + QStringLiteral("Splitter");
}

bool PlausibleSize(int Width, int Height) {
    return Width > 0 && Height > 0 && Width <= LargestSize && Height <= LargestSize;
}

// The screen that shows the top of Rect (where a window is grabbed), or none.
const QScreen *ScreenShowingTop(const QRect &Rect) {
    const QRect Top(Rect.topLeft(), QSize(Rect.width(), std::min(Rect.height(), 30)));
    for (const QScreen *Screen : QGuiApplication::screens())
        if (Screen->availableGeometry().intersects(Top))
            return Screen;
    return nullptr;
}

// No larger than the screen that will show it.
QSize FittedSize(QSize Size, const QScreen *Screen) {
    if (Screen != nullptr)
        Size = Size.boundedTo(Screen->availableGeometry().size());
    return Size;
}

} // namespace

void TWindowLayout::Save(const QWidget *Window, const QString &Key) {
    Save(Window, Key, Config().Layout);
}

void TWindowLayout::Save(const QWidget *Window, const QString &Key, TLayoutValues &Layout) {
    // The place the window goes back to when it is no longer maximised.
    const QRect Place = Window->isMaximized() ? Window->normalGeometry() : Window->geometry();
    const std::array<int, 5> Numbers{Place.x(), Place.y(), Place.width(), Place.height(),
                                     Window->isMaximized() ? 1 : 0};
    Layout.SetNumbers(GeometryName(Key), Numbers);
}

bool TWindowLayout::Restore(QWidget *Window, const QString &Key) {
    return Restore(Window, Key, Config().Layout);
}

bool TWindowLayout::Restore(QWidget *Window, const QString &Key, const TLayoutValues &Layout) {
    const auto Numbers = Layout.Numbers(GeometryName(Key), 4, 5);
    if (!Numbers)
        return false;
    const std::vector<int> &N = *Numbers;
    if (!PlausibleSize(N[2], N[3]) || (N.size() == 5 && N[4] != 0 && N[4] != 1))
        return false;
    QRect Place(N[0], N[1], N[2], N[3]);
    const QScreen *Screen = ScreenShowingTop(Place);
    if (Screen == nullptr) {
        // A screen that was unplugged, or numbers from elsewhere: the primary screen's
        // centre rather than nowhere.
        Screen = QGuiApplication::primaryScreen();
        Place.setSize(FittedSize(Place.size(), Screen));
        if (Screen != nullptr)
            Place.moveCenter(Screen->availableGeometry().center());
    } else {
        Place.setSize(FittedSize(Place.size(), Screen));
    }
    Window->setGeometry(Place);
    if (N.size() == 5 && N[4] == 1)
        Window->setWindowState(Window->windowState() | Qt::WindowMaximized);
    return true;
}

void TWindowLayout::SaveSize(const QWidget *Window, const QString &Key) {
    SaveSize(Window, Key, Config().Layout);
}

void TWindowLayout::SaveSize(const QWidget *Window, const QString &Key, TLayoutValues &Layout) {
    const QSize Size = Window->isMaximized() ? Window->normalGeometry().size() : Window->size();
    const std::array<int, 2> Numbers{Size.width(), Size.height()};
    Layout.SetNumbers(SizeName(Key), Numbers);
}

bool TWindowLayout::RestoreSize(QWidget *Window, const QString &Key) {
    return RestoreSize(Window, Key, Config().Layout);
}

bool TWindowLayout::RestoreSize(QWidget *Window, const QString &Key, const TLayoutValues &Layout) {
    const auto Numbers = Layout.Numbers(SizeName(Key), 2, 2);
    if (!Numbers || !PlausibleSize((*Numbers)[0], (*Numbers)[1]))
        return false;
    Window->resize(
        FittedSize(QSize((*Numbers)[0], (*Numbers)[1]), QGuiApplication::primaryScreen()));
    return true;
}

void TWindowLayout::SaveHeader(const QHeaderView *Header, const QString &Key) {
    SaveHeader(Header, Key, Config().Layout);
}

void TWindowLayout::SaveHeader(const QHeaderView *Header, const QString &Key,
                               TLayoutValues &Layout) {
    std::vector<int> Widths;
    for (int Section = 0; Section < Header->count(); ++Section)
        Widths.push_back(Header->sectionSize(Section));
    Layout.SetNumbers(ColumnsName(Key), Widths);
    const bool Sorted = Header->isSortIndicatorShown() && Header->sortIndicatorSection() >= 0 &&
                        Header->sortIndicatorSection() < Header->count();
    const std::array<int, 2> Sort{Sorted ? Header->sortIndicatorSection() : -1,
                                  Header->sortIndicatorOrder() == Qt::DescendingOrder ? 1 : 0};
    Layout.SetNumbers(SortName(Key), Sort);
}

bool TWindowLayout::RestoreHeader(QHeaderView *Header, const QString &Key) {
    return RestoreHeader(Header, Key, Config().Layout);
}

bool TWindowLayout::RestoreHeader(QHeaderView *Header, const QString &Key,
                                  const TLayoutValues &Layout) {
    const auto Widths = Layout.Numbers(ColumnsName(Key), Header->count(), Header->count());
    if (!Widths)
        return false;
    for (const int Width : *Widths)
        if (Width < 0 || Width > LargestSize)
            return false;
    for (int Section = 0; Section < Header->count(); ++Section)
        Header->resizeSection(Section, (*Widths)[size_t(Section)]);
    return true;
}

std::optional<std::pair<int, Qt::SortOrder>> TWindowLayout::StoredSort(const QString &Key,
                                                                       int Columns) {
    return StoredSort(Key, Columns, Config().Layout);
}

std::optional<std::pair<int, Qt::SortOrder>>
TWindowLayout::StoredSort(const QString &Key, int Columns, const TLayoutValues &Layout) {
    const auto Numbers = Layout.Numbers(SortName(Key), 2, 2);
    if (!Numbers)
        return std::nullopt;
    const int Column = (*Numbers)[0], Order = (*Numbers)[1];
    if (Column < 0 || Column >= Columns || (Order != 0 && Order != 1))
        return std::nullopt;
    return std::pair(Column, Order == 1 ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void TWindowLayout::SaveSplitter(const QSplitter *Splitter, const QString &Key) {
    SaveSplitter(Splitter, Key, Config().Layout);
}

void TWindowLayout::SaveSplitter(const QSplitter *Splitter, const QString &Key,
                                 TLayoutValues &Layout) {
    const QList<int> Sizes = Splitter->sizes();
    const std::vector<int> Numbers(Sizes.begin(), Sizes.end());
    Layout.SetNumbers(SplitterName(Key), Numbers);
}

bool TWindowLayout::RestoreSplitter(QSplitter *Splitter, const QString &Key) {
    return RestoreSplitter(Splitter, Key, Config().Layout);
}

bool TWindowLayout::RestoreSplitter(QSplitter *Splitter, const QString &Key,
                                    const TLayoutValues &Layout) {
    const auto Numbers = Layout.Numbers(SplitterName(Key), Splitter->count(), Splitter->count());
    if (!Numbers)
        return false;
    for (const int Size : *Numbers)
        if (Size < 0 || Size > LargestSize)
            return false;
    Splitter->setSizes(QList<int>(Numbers->begin(), Numbers->end()));
    return true;
}
