#include "app/ProgramWindows.h"

#include "app/AboutForm.h"
#include "app/ConfigInstance.h"
#include "app/MainForm.h"
#include "conversion/ConfirmOvwrtForm.h"
#include "conversion/ConvForm.h"
#include "conversion/DispForm.h"
#include "inspect/WaveInfoForm.h"
#include "player/PlayerForm.h"
#include "settings/ConfigForm.h"
#include "tageditor/ID3TagForm.h"

void CreateProgramWindows(TMainForm &MainForm) {
    TProgramWindows Windows;
    Windows.ConvForm = new TConvForm(Config(), &MainForm);
    Windows.DispForm = new TDispForm(Config(), &MainForm);
    Windows.ConvForm->SetErrorList(Windows.DispForm);
    Windows.ConfirmOvwrtForm = new TConfirmOvwrtForm(Config(), &MainForm);
    Windows.PlayerForm = new TPlayerForm(&MainForm);
    Windows.PlayerForm->SetCurrentList([&MainForm] { return MainForm.CurrentList(); });
    Windows.ID3TagForm = new TID3TagForm(&MainForm);
    Windows.WaveInfoForm = new TWaveInfoForm(&MainForm);
    Windows.ConfigForm = new TConfigForm(Config(), &MainForm);
    Windows.AboutForm = new TAboutForm(&MainForm);
    MainForm.SetWindows(Windows);
}
