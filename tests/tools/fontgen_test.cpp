// fontgen run as a developer runs it: the committed font table is exactly what
// it makes from Debian's Terminus console font, and bad input gets a clear
// message and a failing status, never a table.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "image/png.h"
#include "tests/support/temp_dir.h"

namespace {

const char* const kTerminus = "/usr/share/consolefonts/Uni2-Terminus16.psf.gz";

struct Result {
    int status = -1;
    std::string err;
};

// Runs fontgen with args; its stderr is kept.
Result RunFontgen(const std::string& args, const TempDir& dir) {
    const std::string errFile = dir.File("stderr.txt");
    const std::string command = std::string(FK_FONTGEN) + " " + args + " >/dev/null 2>" + errFile;
    const int status = std::system(command.c_str());
    std::ifstream in(errFile);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}};
}

}  // namespace

TEST(Fontgen, RegeneratesTheCommittedTableExactly) {
    ASSERT_TRUE(std::ifstream(kTerminus).good())
        << kTerminus << " is missing: scripts/deps.sh installs console-setup-linux";
    TempDir dir;
    const std::string out = dir.File("gl_font_data.cpp");
    const Result r = RunFontgen(std::string(kTerminus) + " " + out, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(out), ReadFileBytes(std::string(FK_SOURCE_DIR) + "/graphics/gl/gl_font_data.cpp"));

    // The picture to look at: three lines of 32 glyphs, four times enlarged.
    const std::string png = dir.File("font.png");
    ASSERT_EQ(RunFontgen("--preview " + png, dir).status, 0);
    auto preview = LoadPNGPixmap(png);
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->width, 1024);
    EXPECT_EQ(preview->height, 192);
}

TEST(Fontgen, BadInputFailsWithAReason) {
    TempDir dir;
    const std::string out = dir.File("out.cpp");
    // The real font cut short inside its glyphs, and inside its Unicode table.
    const std::string whole = [&] {
        const std::string plain = dir.File("terminus.psf");
        std::system(("gzip -dc " + std::string(kTerminus) + " >" + plain).c_str());
        return ReadFileBytes(plain);
    }();
    ASSERT_GT(whole.size(), 4u + 512 * 16 + 100);
    WriteFileBytes(dir.File("glyphs_cut.psf"), whole.substr(0, 4 + 100 * 16));
    WriteFileBytes(dir.File("table_cut.psf"), whole.substr(0, 4 + 512 * 16 + 100));
    WriteFileBytes(dir.File("text.psf"), "not a font at all\n");

    const struct {
        std::string args;
        int status;
        std::string message;
    } cases[] = {
        {dir.File("absent.psf") + " " + out, 1, "fontgen: cannot open " + dir.File("absent.psf")},
        {dir.File("text.psf") + " " + out, 1, "fontgen: not a PSF font"},
        {dir.File("glyphs_cut.psf") + " " + out, 1, "fontgen: the font's glyphs are truncated"},
        {dir.File("table_cut.psf") + " " + out, 1, "fontgen: the font's Unicode table is truncated"},
        {std::string(kTerminus) + " " + dir.File("no/such/dir/out.cpp"), 1,
         "fontgen: cannot write " + dir.File("no/such/dir/out.cpp") + ": No such file or directory"},
        {std::string(kTerminus) + " /dev/full", 1, "fontgen: cannot write /dev/full: it is a device"},
        {"--preview /dev/full", 1, "fontgen: cannot write /dev/full: it is a device"},
        {kTerminus, 2, "usage: fontgen"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const Result r = RunFontgen(c.args, dir);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
    }
    EXPECT_FALSE(std::ifstream(out).good()) << "no table is written from bad input";
}
