#include "core/xaudio/FakeXaudio.h"
#include "platform/DynamicLibrary.h"

#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <utility>

TEST(DynamicLibraryNames, DllNamesBecomeSharedObjectNames) {
    EXPECT_EQ(DynamicLibrary::PlatformFileName("xaudio.dll"), "libxaudio.so");
    EXPECT_EQ(DynamicLibrary::PlatformFileName("Xaudio.DLL"), "libXaudio.so");
    EXPECT_EQ(DynamicLibrary::PlatformFileName("libxaudio.so"), "libxaudio.so");
    EXPECT_EQ(DynamicLibrary::PlatformFileName("xaudio.dll.bak"), "xaudio.dll.bak");
    // A path names a file as it is.
    EXPECT_EQ(DynamicLibrary::PlatformFileName("/opt/lib/xaudio.dll"), "/opt/lib/xaudio.dll");
}

TEST(DynamicLibraryNames, NamesAreLookedForBesideTheExecutableFirst) {
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath("libxaudio.so");
    EXPECT_EQ(DynamicLibrary::Candidates("xaudio.dll"), QStringList({beside, "libxaudio.so"}));
    EXPECT_EQ(DynamicLibrary::Candidates("./libx.so"), QStringList({"./libx.so"}));
}

// The fakes are built beside the test executable and nowhere on the library path, so only
// the lookup beside the executable can find one by its program name.
TEST(DynamicLibraryLoad, FindsADllNameBesideTheExecutable) {
    DynamicLibrary library;
    ASSERT_TRUE(library.Load("xaudio_fake.dll")) << library.ErrorText().toStdString();
    EXPECT_NE(library.Symbol("player_new"), nullptr);
    EXPECT_EQ(library.Symbol("no_such_symbol"), nullptr);
}

TEST(DynamicLibraryLoad, ReleasesTheLibraryOnUnloadAndDestruction) {
    ASSERT_FALSE(IsLoaded(FakeXaudioApi37Path));
    {
        DynamicLibrary library;
        ASSERT_TRUE(library.Load(FakeXaudioApi37Path));
        EXPECT_TRUE(IsLoaded(FakeXaudioApi37Path));
        library.Unload();
        EXPECT_FALSE(library.IsLoaded());
        EXPECT_EQ(library.Symbol("player_new"), nullptr);
        EXPECT_FALSE(IsLoaded(FakeXaudioApi37Path));
        ASSERT_TRUE(library.Load(FakeXaudioApi37Path));
    }
    EXPECT_FALSE(IsLoaded(FakeXaudioApi37Path));
}

TEST(DynamicLibraryLoad, AMovedLibraryIsReleasedOnceByItsNewOwner) {
    DynamicLibrary first;
    ASSERT_TRUE(first.Load(FakeXaudioApi37Path));
    {
        DynamicLibrary second(std::move(first));
        EXPECT_FALSE(first.IsLoaded());
        EXPECT_TRUE(second.IsLoaded());
        first = std::move(second);
        EXPECT_TRUE(IsLoaded(FakeXaudioApi37Path));
    }
    EXPECT_TRUE(first.IsLoaded());
    EXPECT_NE(first.Symbol("player_new"), nullptr);
    first.Unload();
    EXPECT_FALSE(IsLoaded(FakeXaudioApi37Path));
}

TEST(DynamicLibraryLoad, AFailedLoadSaysWhy) {
    DynamicLibrary library;
    EXPECT_FALSE(library.Load("/nonexistent/libnothing.so"));
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_TRUE(library.ErrorText().contains("libnothing.so")) << library.ErrorText().toStdString();
    EXPECT_FALSE(library.Load("brindle-nothing.dll"));
    EXPECT_FALSE(library.ErrorText().isEmpty());
}
