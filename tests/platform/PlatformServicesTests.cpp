#include "platform/Error.h"
#include "platform/FileOperations.h"
#include "platform/PreferenceStore.h"
#include "platform/RealFft.h"
#include "platform/TemporaryDirectory.h"
#include "platform/Uuid.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <numbers>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

TEST(TemporaryDirectory, IsPrivateAndRecreatedWhenRemoved) {
    const fs::path dir = privateTemporaryDirectory();
    EXPECT_EQ(dir, appTemporaryDirectory());
    struct stat info {};
    ASSERT_EQ(::stat(dir.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    fs::remove_all(dir);
    EXPECT_TRUE(fs::is_directory(privateTemporaryDirectory()));
}

TEST(TemporaryDirectory, RefusesASymbolicLink) {
    const fs::path target = scratchPath("elsewhere");
    fs::create_directories(target);
    fs::remove_all(appTemporaryDirectory());
    fs::create_directory_symlink(target, appTemporaryDirectory());
    EXPECT_THROW(privateTemporaryDirectory(), Error);
}

// A batch's runs are forks of the batch: a child must not make the names its parent makes next,
// or two runs would share one temporary folder.
TEST(Uuid, AForkedChildMakesNamesOfItsOwn) {
    (void)newUuidString(); // whatever state the names come from is set up before the fork
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string name = newUuidString();
        const bool written = ::write(pipe[1], name.data(), name.size()) == ssize_t(name.size());
        ::_exit(written ? 0 : 1);
    }
    ::close(pipe[1]);
    const std::string parentName = newUuidString();
    char childName[64] = {};
    const ssize_t length = ::read(pipe[0], childName, sizeof childName - 1);
    ::close(pipe[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(length, ssize_t(parentName.size()));
    EXPECT_NE(std::string(childName), parentName);
    EXPECT_NE(parentName, newUuidString());
}

TEST(FileOperations, AtomicCopyReplacesOnlyWhenComplete) {
    const auto from = scratchPath("from.bin");
    const auto to = scratchPath("to.bin");
    std::ofstream(from) << "new content";
    std::ofstream(to) << "old content";
    copyFileAtomically(from, to);
    std::ifstream in(to);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "new content");

    EXPECT_THROW(copyFileAtomically(scratchPath("absent.bin"), to), Error);
    std::ifstream again(to);
    std::string kept((std::istreambuf_iterator<char>(again)), {});
    EXPECT_EQ(kept, "new content");
    for (const auto& entry : fs::directory_iterator(scratchDirectory())) {
        EXPECT_EQ(entry.path().filename().string().find(".partial-"), std::string::npos);
    }
}

TEST(PreferenceStore, KeepsTypedValuesAcrossInstances) {
    const auto file = configDirectory() / "prefs.json";
    {
        PreferenceStore store(file);
        store.setFloat("targetLoudness", -8.0f);
        store.setBool("Orvanta_showReport", false);
        store.setString("exportFormat", "M4A");
        store.setData("blob", {0, 1, 2, 250, 255});
    }
    PreferenceStore store(file);
    EXPECT_EQ(store.floatValue("targetLoudness"), -8.0f);
    EXPECT_EQ(store.boolValue("Orvanta_showReport"), false);
    EXPECT_EQ(store.stringValue("exportFormat"), "M4A");
    EXPECT_EQ(store.dataValue("blob"), (PreferenceStore::Data{0, 1, 2, 250, 255}));
    // Another type under the key reads as absent, so callers use their defaults.
    EXPECT_FALSE(store.boolValue("targetLoudness").has_value());
    EXPECT_FALSE(store.floatValue("exportFormat").has_value());
    store.remove("exportFormat");
    EXPECT_FALSE(store.contains("exportFormat"));
    EXPECT_TRUE(store.contains("targetLoudness"));
}

TEST(PreferenceStore, SetsAsideAnUnreadableFile) {
    const auto file = configDirectory() / "prefs.json";
    std::ofstream(file) << "{ not json";
    PreferenceStore store(file);
    EXPECT_FALSE(store.contains("anything"));
    bool keptAside = false;
    for (const auto& entry : fs::directory_iterator(configDirectory())) {
        keptAside |= entry.path().filename().string().starts_with("prefs.json.unreadable-");
    }
    EXPECT_TRUE(keptAside);
    store.setFloat("limitThreshold", -0.3f);
    EXPECT_EQ(PreferenceStore(file).floatValue("limitThreshold"), -0.3f);
}

TEST(PreferenceStore, StandardStoreFollowsTheConfigOverride) {
    EXPECT_EQ(PreferenceStore::standardFilePath(), configDirectory() / "preferences.json");
}

TEST(RealFft, MagnitudesFollowThePackedConvention) {
    constexpr size_t n = 4096;
    RealFft fft(n);
    std::vector<float> magnitudes(n / 2);
    // A cosine of amplitude 1 exactly on bin 64: |X_64| = N/2, packed value 2·N/2 = N.
    std::vector<float> signal(n);
    for (size_t i = 0; i < n; ++i) signal[i] = float(std::cos(2 * std::numbers::pi * 64 * double(i) / n));
    fft.packedMagnitudes(signal.data(), magnitudes.data());
    EXPECT_NEAR(magnitudes[64], float(n), 0.01f * n);
    EXPECT_LT(magnitudes[63], 0.01f);
    // DC of 0.5 and a Nyquist alternation of 0.25 pack into bin 0.
    for (size_t i = 0; i < n; ++i) signal[i] = 0.5f + ((i % 2) ? -0.25f : 0.25f);
    fft.packedMagnitudes(signal.data(), magnitudes.data());
    EXPECT_NEAR(magnitudes[0], std::hypot(2 * 0.5 * n, 2 * 0.25 * n), 0.5);
    EXPECT_THROW(RealFft(1000), Error);
}
