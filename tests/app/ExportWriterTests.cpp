// The window's export follows the command line's output rules: links are written through and stay
// links, devices and pipes are written into and never replaced, and a write that fails leaves the
// old file as it was and no partial file anywhere.
#include "models/app/ExportWriter.h"
#include "platform/Error.h"
#include "support/Signals.h"
#include "support/SpecialFiles.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <thread>

namespace orvanta {
namespace {

namespace fs = std::filesystem;

constexpr float ceilingDb = -1.0f;

bool isLink(const fs::path& path) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(path, ec));
}

bool isCharacterDevice(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

// A 24-bit WAV, as the engine renders: exported as WAV it is copied byte for byte.
fs::path renderedMaster() {
    const fs::path master = test::scratchPath("rendered_master.wav");
    if (!fs::exists(master)) {
        const fs::path music = test::writeMusic(test::scratchPath("music.wav"), 2.0, -10.0);
        test::writeWav(master, test::readWithSndfile(music), 44100.0, test::SampleFormat::pcm24);
    }
    return master;
}

} // namespace

TEST(ExportWriter, LinksAreWrittenThroughAndStayLinks) {
    const fs::path source = renderedMaster();
    const std::string bytes = test::contentsOf(source);

    const fs::path folder = test::scratchPath("linked");
    fs::create_directories(folder);
    const fs::path target = folder / "real.wav";
    std::ofstream(target) << "an older export";
    const fs::path link = test::scratchPath("link (MASTER).wav");
    fs::create_symlink(target, link);
    writeExport(source, link, ExportFormat::wav, ceilingDb);
    EXPECT_TRUE(isLink(link));
    EXPECT_EQ(test::contentsOf(target), bytes);
    EXPECT_FALSE(test::hasPartialFiles(folder));
    EXPECT_FALSE(test::hasPartialFiles(test::scratchDirectory()));

    // A dangling link gets the file it names.
    const fs::path dangling = test::scratchPath("dangling.wav");
    fs::create_symlink("dangling-target.wav", dangling);
    writeExport(source, dangling, ExportFormat::wav, ceilingDb);
    EXPECT_TRUE(isLink(dangling));
    EXPECT_EQ(test::contentsOf(test::scratchPath("dangling-target.wav")), bytes);

    // A loop of links has no file at its end: refused, both links stay.
    fs::create_symlink("loop-b.wav", test::scratchPath("loop-a.wav"));
    fs::create_symlink("loop-a.wav", test::scratchPath("loop-b.wav"));
    EXPECT_THROW(writeExport(source, test::scratchPath("loop-a.wav"), ExportFormat::wav, ceilingDb), Error);
    EXPECT_TRUE(isLink(test::scratchPath("loop-a.wav")) && isLink(test::scratchPath("loop-b.wav")));

    // A link to the rendered file itself: nothing to write, and the rendered file stays whole.
    const fs::path selfLink = test::scratchPath("self.wav");
    fs::create_symlink(source, selfLink);
    writeExport(source, selfLink, ExportFormat::wav, ceilingDb);
    EXPECT_EQ(test::contentsOf(source), bytes);
}

TEST(ExportWriter, PipesAndDevicesAreWrittenIntoAndNeverReplaced) {
    const fs::path source = renderedMaster();
    const std::string bytes = test::contentsOf(source);

    // A named pipe with a reader gets every byte. The reading end and a spare writing end are open
    // before the export starts, so the reader neither misses the export's open nor sees an early end.
    const fs::path pipe = test::scratchPath("export.pipe");
    test::makeNamedPipe(pipe);
    const int readEnd = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(readEnd, 0);
    const int spareWriter = ::open(pipe.c_str(), O_WRONLY);
    ASSERT_GE(spareWriter, 0);
    ::fcntl(readEnd, F_SETFL, ::fcntl(readEnd, F_GETFL) & ~O_NONBLOCK);
    std::string received;
    std::thread reader([&] {
        char chunk[65536];
        for (ssize_t got; (got = ::read(readEnd, chunk, sizeof chunk)) > 0;) received.append(chunk, size_t(got));
    });
    EXPECT_NO_THROW(writeExport(source, pipe, ExportFormat::wav, ceilingDb));
    ::close(spareWriter);
    reader.join();
    ::close(readEnd);
    EXPECT_EQ(received, bytes);
    struct stat info {};
    ASSERT_EQ(::lstat(pipe.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));

    // A socket is no place for a file.
    const fs::path socketPath = test::scratchPath("export.socket");
    {
        test::UnixSocket socket(socketPath);
        EXPECT_THROW(writeExport(source, socketPath, ExportFormat::wav, ceilingDb), Error);
    }

    const fs::path null = test::scratchPath("null");
    const fs::path full = test::scratchPath("full");
    if (!test::makeDeviceNode(null, 1, 3) || !test::makeDeviceNode(full, 1, 7)) {
        GTEST_SKIP() << "device nodes cannot be made here (needs root)";
    }
    EXPECT_NO_THROW(writeExport(source, null, ExportFormat::wav, ceilingDb));
    EXPECT_TRUE(isCharacterDevice(null));
    // The full device fails the write, also for a conversion staged in the temporary directory first.
    for (const ExportFormat format : {ExportFormat::wav, ExportFormat::m4a}) {
        EXPECT_THROW(writeExport(source, full, format, ceilingDb), Error);
        EXPECT_TRUE(isCharacterDevice(full));
    }
    EXPECT_FALSE(test::hasPartialFiles(test::scratchDirectory()));
    EXPECT_TRUE(test::appTemporaryDirectoryIsEmpty());
}

TEST(ExportWriter, AFullDiskKeepsTheOldExportAndLeavesNoPartialFile) {
    const fs::path source = renderedMaster();
    const fs::path folder = test::scratchPath("small-disk");
    test::SmallFileSystem disk(folder, 32 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << disk.failure();
    const fs::path destination = folder / "song (MASTER).wav";
    std::ofstream(destination) << "an older export";
    for (const ExportFormat format : {ExportFormat::wav, ExportFormat::m4a}) {
        SCOPED_TRACE(format == ExportFormat::wav ? "wav" : "m4a");
        const fs::path named = format == ExportFormat::wav ? destination : folder / "song (MASTER).m4a";
        EXPECT_THROW(writeExport(source, named, format, ceilingDb), Error);
        for (const auto& entry : fs::directory_iterator(folder))
            EXPECT_EQ(entry.path(), destination) << "a partial file was left";
    }
    EXPECT_EQ(test::contentsOf(destination), "an older export");
    EXPECT_TRUE(test::appTemporaryDirectoryIsEmpty());
}

} // namespace orvanta
