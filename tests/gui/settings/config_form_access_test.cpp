#include "settings/Config.h"
#include "settings/ConfigForm.h"
#include "support/ScriptedDialogs.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QSlider>
#include <QStringList>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

QString AccessibleName(QWidget *Widget) {
    QAccessibleInterface *Interface = QAccessible::queryAccessibleInterface(Widget);
    return Interface ? Interface->text(QAccessible::Name) : QString();
}

// The texts of the labels a screen reader reads for Widget.
QStringList LabelledBy(QWidget *Widget) {
    QStringList Texts;
    QAccessibleInterface *Interface = QAccessible::queryAccessibleInterface(Widget);
    if (!Interface)
        return Texts;
    for (const auto &[Label, Relation] : Interface->relations(QAccessible::Label))
        Texts << Label->text(QAccessible::Name);
    return Texts;
}

// Where a screen reader lands: a widget that takes the focus itself, not the edit inside a
// spin box, which gives its focus to the spin box.
bool TakesFocus(QWidget *Widget) {
    return Widget->focusPolicy() != Qt::NoFocus && !Widget->focusProxy() &&
           !qobject_cast<QAbstractSpinBox *>(Widget->parentWidget());
}

class ConfigFormAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Temp.isValid());
        Config.OutputFolder = Temp.path();
        Form.show();
    }

    QTemporaryDir Temp;
    ScriptedDialogs Dialogs;
    TConfig Config;
    TConfigForm Form{Config};
};

} // namespace

TEST_F(ConfigFormAccessTest, EveryControlThatTakesTheFocusHasAName) {
    int Checked = 0;
    for (QWidget *Widget : Form.findChildren<QWidget *>()) {
        if (!TakesFocus(Widget))
            continue;
        ++Checked;
        EXPECT_FALSE(AccessibleName(Widget).trimmed().isEmpty())
            << Widget->metaObject()->className() << " " << Widget->objectName().toStdString();
    }
    EXPECT_GT(Checked, 30);
}

// A screen reader also lists what the focus chain hides: the tab control behind its tab bar
// and the open list of each drop-down, which exists only once it is asked for.
TEST_F(ConfigFormAccessTest, TheTabControlAndEveryOpenListHaveANameToo) {
    QWidget *Pages = Form.findChild<QWidget *>(QStringLiteral("PageControl"));
    ASSERT_NE(Pages, nullptr);
    EXPECT_FALSE(AccessibleName(Pages).trimmed().isEmpty());
    const std::pair<const char *, const char *> Lists[] = {
        {"cbQuality", "MPEG Quality"},
        {"cbSampleRate", "Sample Rate"},
    };
    for (const auto &[Name, Text] : Lists) {
        auto *List = Form.findChild<QComboBox *>(QString::fromLatin1(Name));
        ASSERT_NE(List, nullptr) << Name;
        EXPECT_EQ(AccessibleName(List->view()), QString::fromLatin1(Text)) << Name;
    }
    EXPECT_EQ(Form.findChildren<QComboBox *>().size(), std::size(Lists));
}

// Controls without text of their own say what they set, in the words of the label beside
// them.
TEST_F(ConfigFormAccessTest, ControlsWithoutTextAreNamedAfterWhatTheySet) {
    const std::pair<const char *, const char *> Expected[] = {
        {"trkBarBitrate", "Bit Rate"},
        {"trkbarMaxBitrate", "Max BitRate"},
        {"trkbarVBRQuality", "VBR Quality"},
        {"ragrpMode", "Mode"},
        {"edtNormalizeFactor", "Normalize to a peak of (percent)"},
        {"edtOutputFolder", "Output folder"},
        {"seLoudnessTarget", "Normalize to a loudness of (LUFS)"},
        {"seTruePeakCeiling", "True peak at most (dBTP)"},
        {"spinConvertJobs", "Files converted at once"},
    };
    for (const auto &[Name, Text] : Expected) {
        QWidget *Widget = Form.findChild<QWidget *>(QString::fromLatin1(Name));
        ASSERT_NE(Widget, nullptr) << Name;
        EXPECT_EQ(AccessibleName(Widget), QString::fromLatin1(Text)) << Name;
    }
    // A drop-down list's name is its value here; its label comes as a relation.
    QWidget *Quality = Form.findChild<QWidget *>(QStringLiteral("cbQuality"));
    ASSERT_NE(Quality, nullptr);
    EXPECT_TRUE(LabelledBy(Quality).contains("MPEG Quality"))
        << LabelledBy(Quality).join(", ").toStdString();

    // The arrows beside the normalise field take no focus, but a pointer reaches them.
    QWidget *UpDown = Form.findChild<QWidget *>(QStringLiteral("UpDown1"));
    ASSERT_NE(UpDown, nullptr);
    for (QToolButton *Arrow : UpDown->findChildren<QToolButton *>())
        EXPECT_TRUE(AccessibleName(Arrow).contains("Normalize"))
            << Arrow->objectName().toStdString();
}
