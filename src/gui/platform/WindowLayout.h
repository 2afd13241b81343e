#pragma once

#include "settings/Layout.h"

#include <QString>
#include <Qt>
#include <optional>
#include <utility>

class QHeaderView;
class QSplitter;
class QWidget;

// Saves and restores how the user left a window: its place and size, the widths of its
// columns and their sort order, the division of a splitter. The values go into the settings'
// layout group (Config().Layout unless another is given), which is written with the settings
// when the main window closes and read when it is created. Key names the window or control
// ("PlayerForm"); each kind of value adds its own suffix, so one key serves a window and its
// list. Restoring ignores a stored value that is missing or makes no sense and leaves the
// widget as it is; it never fails.
class TWindowLayout {
public:
    // A top-level window's place and size (as it is when not maximised) and whether it is
    // maximised.
    static void Save(const QWidget *Window, const QString &Key);
    static void Save(const QWidget *Window, const QString &Key, TLayoutValues &Layout);
    // Puts the window back; a place that no screen shows any more moves the window onto the
    // primary screen, and a size larger than the screen shrinks to it. True when a stored
    // place was applied.
    static bool Restore(QWidget *Window, const QString &Key);
    static bool Restore(QWidget *Window, const QString &Key, const TLayoutValues &Layout);

    // Only the size, for windows that are placed by their owner (a dialog centred on it).
    static void SaveSize(const QWidget *Window, const QString &Key);
    static void SaveSize(const QWidget *Window, const QString &Key, TLayoutValues &Layout);
    static bool RestoreSize(QWidget *Window, const QString &Key);
    static bool RestoreSize(QWidget *Window, const QString &Key, const TLayoutValues &Layout);

    // The widths of a header's sections and its sort indicator (when it is shown).
    static void SaveHeader(const QHeaderView *Header, const QString &Key);
    static void SaveHeader(const QHeaderView *Header, const QString &Key, TLayoutValues &Layout);
    // Restores the widths when one is stored for every section; true then.
    static bool RestoreHeader(QHeaderView *Header, const QString &Key);
    static bool RestoreHeader(QHeaderView *Header, const QString &Key, const TLayoutValues &Layout);
    // The stored sort column and order of a header of Columns sections, if one was saved.
    static std::optional<std::pair<int, Qt::SortOrder>> StoredSort(const QString &Key, int Columns,
                                                                   const TLayoutValues &Layout);
    static std::optional<std::pair<int, Qt::SortOrder>> StoredSort(const QString &Key, int Columns);

    // The sizes of a splitter's parts.
    static void SaveSplitter(const QSplitter *Splitter, const QString &Key);
    static void SaveSplitter(const QSplitter *Splitter, const QString &Key, TLayoutValues &Layout);
    static bool RestoreSplitter(QSplitter *Splitter, const QString &Key);
    static bool RestoreSplitter(QSplitter *Splitter, const QString &Key,
                                const TLayoutValues &Layout);
};
