#pragma once

#include <QString>
#include <QUrl>

class QWidget;

// The program's HTML manual: its contents page (context 0) and its topics, each an anchor
// "context-N" of the contents page.

// The manual's contents page: the one set by SetHelpFile, else the first that exists of
// help/index.html beside the program, ../share/brindle/help/index.html and the source
// tree's resources/help/index.html (a program run from its build folder). Empty when there
// is none.
QString HelpFile();
// Uses Path as the manual from now on; empty goes back to searching.
void SetHelpFile(const QString &Path);

// The address of a topic, or an empty URL when there is no manual.
QUrl HelpUrl(int Context);

// Opens the topic in the desktop's browser; a missing manual or a failure to open it is
// reported in a message box. Returns whether it was opened.
bool OpenHelp(QWidget *Parent, int Context);
