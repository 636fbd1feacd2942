// The platform-neutral side of the desktop services: the chooser's extension
// lists and starting points, URL normalisation, the date and time texts, and
// the module functions' forwarding.
#include "system/services.h"

#include "system/system_driver.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <regex>

namespace {

TEST(FileFilters, ExtensionListsBecomeGroups) {
    using Groups = std::vector<std::pair<std::string, std::vector<std::string>>>;
    const struct {
        const char* extensions;
        Groups groups;
    } kCases[] = {
        {"Image Files:png,jpg;Text:txt", {{"Image Files", {"png", "jpg"}}, {"Text", {"txt"}}}},
        {"png,jpg", {{"Files", {"png", "jpg"}}}},
        {"Text:txt", {{"Text", {"txt"}}}},
        {"All:*", {{"All", {"*"}}}},
        {"A:a,,b,;B:", {{"A", {"a", "b"}}, {"B", {}}}},
        {"", {}},
    };
    for (const auto& c : kCases) {
        Groups groups;
        for (const auto& g : FileFilterGroups(c.extensions)) groups.emplace_back(g.description, g.extensions);
        EXPECT_EQ(groups, c.groups) << c.extensions;
    }
}

TEST(FileFilters, TheStartingFilesExtensionPicksTheGroup) {
    const struct {
        const char* extensions;
        const char* path;
        int32_t index;
    } kCases[] = {
        {"Image Files:png,jpg;Text:txt", "/home/u/picture.png", 1},
        {"Image Files:png,jpg;Text:txt", "/home/u/picture.JPG", 1},
        {"IMAGE FILES:PNG,JPG;Text:txt", "picture.jpg", 1},
        {"Image Files:png,jpg;Text:txt", "notes.txt", 2},  // only in the last group: that group
        {"A:a;B:b;C:c", "x.c", 3},
        {"png,jpg", "x.jpg", 1},
        {"Image Files:png,jpg;Text:txt", "notes.md", 0},
        {"Image Files:png,jpg;Text:txt", "notes", 0},
        {"Image Files:png,jpg;Text:txt", "/home/u.txt/notes", 0},  // a dot in a directory means nothing
        {"Image Files:png,jpg;Text:txt", "/home/u.txt/", 0},
        {"Png:png", "image.files", 0},            // a description is not an extension
        {"Archives:tar.gz", "backup.tar.gz", 1},  // from the first dot of the file name
        {"Archives:gz", "backup.tar.gz", 0},
        {"", "x.png", 0},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(InitialFilterIndex(c.extensions, c.path), c.index) << c.extensions << " at " << c.path;
}

TEST(FileFilters, TheStartingPathSplitsAtItsLastSlash) {
    const struct {
        const char* path;
        const char* directory;
        const char* file;
    } kCases[] = {
        {"/home/u/notes.txt", "/home/u", "notes.txt"},
        {"/notes.txt", "/", "notes.txt"},
        {"notes.txt", "", "notes.txt"},
        {"sub/", "sub", ""},
        {"", "", ""},
    };
    for (const auto& c : kCases) {
        const TChooserStart start = SplitChooserPath(c.path);
        EXPECT_EQ(start.directory, c.directory) << c.path;
        EXPECT_EQ(start.file, c.file) << c.path;
    }
}

TEST(ShellUrls, PathsBecomeFileUrlsAndTheRestHttp) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX paths and symbolic links";
#endif
    TempDir dir;
    std::filesystem::create_directories(dir.path / "d");
    std::ofstream(dir.File("d/f.txt")) << "x";
    std::filesystem::create_symlink(dir.path / "d", dir.path / "link");
    const std::string real = std::filesystem::canonical(dir.path).string();
    const struct {
        std::string url;
        std::string normalised;
    } kCases[] = {
        {dir.File("d/f.txt"), "file:" + real + "/d/f.txt"},
        {dir.File("link/./f.txt"), "file:" + real + "/d/f.txt"},  // the real path
        {dir.File("d"), "file:" + real + "/d"},
        {dir.File("d") + "/", "file:" + real + "/d"},
        {dir.File("d/f.txt#sec-2"), "file:" + real + "/d/f.txt#sec-2"},
        {dir.File("d/missing.txt"), "http:" + dir.File("d/missing.txt")},
        {"example.com/a#b#c", "http:example.com/a#b#c"},
        {"#top", "http:#top"},
        {"file:" + dir.File("nothing"), "file:" + dir.File("nothing")},
    };
    for (const auto& c : kCases) EXPECT_EQ(NormaliseShellUrl(c.url), c.normalised) << c.url;
}

// A text that starts with a URL scheme (a letter, then letters, digits, "+",
// "-", "."; two characters at least) and ":" passes as it is; one letter is
// a drive, which stays a path.
TEST(ShellUrls, EveryUrlSchemePassesAndDrivesStayPaths) {
    const struct {
        std::string url, normalised;
    } kCases[] = {
        {"http://example.com", "http://example.com"},
        {"HTTP:x", "HTTP:x"},
        {"FILE:///etc/hostname", "FILE:///etc/hostname"},
        {"https://example.com/a?b=1", "https://example.com/a?b=1"},
        {"mailto:someone@example.com", "mailto:someone@example.com"},
        {"ftp:host", "ftp:host"},
        {"svn+ssh://h/r", "svn+ssh://h/r"},
        {"x-my.app2:go", "x-my.app2:go"},
        {"q:no-such-drive-path", "http:q:no-such-drive-path"},
        {"2go:x", "http:2go:x"},
        {"a_b:x", "http:a_b:x"},
        {"no/such:page", "http:no/such:page"},
    };
    for (const auto& c : kCases) EXPECT_EQ(NormaliseShellUrl(c.url), c.normalised) << c.url;
#ifdef _WIN32
    // An existing folder named with its drive opens as a file URL.
    EXPECT_EQ(NormaliseShellUrl("C:\\windows").rfind("file:", 0), 0u) << NormaliseShellUrl("C:\\windows");
#endif
}

TEST(DateAndTime, TextsHaveTheirFormats) {
    const std::time_t before = std::time(nullptr);
    const std::string today = TodayText(), clock = ClockText();
    EXPECT_TRUE(std::regex_match(today, std::regex("[0-3][0-9] [A-Z][a-z][a-z] [0-9]{4}"))) << today;
    EXPECT_TRUE(std::regex_match(clock, std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]"))) << clock;
    const std::tm local = *std::localtime(&before);  // single-threaded here
    EXPECT_EQ(today.substr(today.size() - 4), std::to_string(local.tm_year + 1900));
}

// Records what the module functions hand on.
class ServiceDriver : public TSystemDriver {
public:
    std::vector<std::string> calls;
    int32_t Notify(const std::string& t, int32_t s) override { return Note("Notify " + t, s), 0; }
    int32_t Confirm(const std::string& t, int32_t s) override { return Note("Confirm " + t, s), 1; }
    int32_t Proceed(const std::string& t, int32_t s) override { return Note("Proceed " + t, s), -1; }
    std::string RequestFile(const std::string& t, const std::string& e, int32_t save, const std::string& p) override {
        Note("RequestFile " + t + " " + e + " " + p, save);
        return "chosen";
    }
    std::string RequestDir(const std::string& t, const std::string& p) override {
        Note("RequestDir " + t + " " + p, 0);
        return "folder";
    }
    int32_t OpenURL(const std::string& url) override { return Note("OpenURL " + url, 0), 1; }

private:
    void Note(const std::string& call, int32_t flag) { calls.push_back(call + " " + std::to_string(flag)); }
};

TEST(ServiceFunctions, EachForwardsToTheDriverWithItsResult) {
    auto driver = std::make_shared<ServiceDriver>();
    SetSystemDriver(driver);
    EXPECT_EQ(NotifyUser("n", 1), 0);
    EXPECT_EQ(ConfirmWithUser("c", 0), 1);
    EXPECT_EQ(ProceedWithUser("p", 1), -1);
    EXPECT_EQ(AskForFile("f", "png", 1, "/x.png"), "chosen");
    EXPECT_EQ(AskForDirectory("d", "/"), "folder");
    EXPECT_EQ(OpenUrlInShell("no/such/page"), 1);
    EXPECT_EQ(OpenUrlInShell(""), 0) << "an empty text opens nothing";
    SetSystemDriver(nullptr);
    EXPECT_EQ(driver->calls,
              (std::vector<std::string>{"Notify n 1", "Confirm c 0", "Proceed p 1", "RequestFile f png /x.png 1",
                                        "RequestDir d / 0", "OpenURL http:no/such/page 0"}));
}

}  // namespace
