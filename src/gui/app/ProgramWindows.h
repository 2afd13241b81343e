#pragma once

class TMainForm;

// Creates the windows that follow the main window at start, in their order (conversion,
// error list, overwrite question, player, tag editor, WAV info, options, About), each a
// child of MainForm that lives as long as it, and hands them to MainForm.
void CreateProgramWindows(TMainForm &MainForm);
