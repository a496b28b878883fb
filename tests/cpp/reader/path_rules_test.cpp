#include <gtest/gtest.h>

#include "tarvok/path_rules.hpp"

namespace {

struct Row {
    std::string path;
    std::string scan_path;
    std::string sample_name;
};

class PathRules : public testing::TestWithParam<Row> {};

TEST_P(PathRules, DerivesScanPathAndSampleName)
{
    const Row& row = GetParam();
    EXPECT_EQ(tarvok::path_rules::scan_path_for(row.path), row.scan_path);
    EXPECT_EQ(tarvok::path_rules::sample_name_for(row.path), row.sample_name);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PathRules,
    testing::Values(Row{"/data/run1.wiff", "/data/run1.wiff.scan", "run1"},
                    Row{"run1.wiff", "run1.wiff.scan", "run1"},
                    Row{"RUN1.WIFF", "RUN1.WIFF.scan", "RUN1"},
                    Row{"run1.old.wiff", "run1.old.wiff.scan", "run1.old"},
                    Row{"/data/.wiff", "/data/.wiff.scan", ".wiff"},
                    Row{"", ".scan", "unknown"},
                    Row{"/", "/.scan", "unknown"},
                    Row{"dir/..", "dir/../.scan", "unknown"},
                    // Separators and '.' components collapse; the parent keeps its inner form.
                    Row{"a/b/", "a/b.scan", "b"},
                    Row{"a//b//", "a/b.scan", "b"},
                    Row{"a/b/.", "a/b.scan", "b"},
                    Row{"a/./b", "a/b.scan", "b"},
                    Row{"a//./c/b", "a//./c/b.scan", "b"},
                    Row{"./run.wiff", "./run.wiff.scan", "run"},
                    Row{".", "./.scan", "unknown"},
                    Row{"./", "./.scan", "unknown"},
                    Row{"..", "../.scan", "unknown"},
                    Row{"../", "../.scan", "unknown"},
                    Row{"//", "//.scan", "unknown"},
                    Row{"//x.wiff", "/x.wiff.scan", "x"},
                    // Stems: only the last extension goes, a leading dot is no extension.
                    Row{"a.", "a..scan", "a"},
                    Row{"a..", "a...scan", "a."},
                    Row{"..x", "..x.scan", "."},
                    Row{"noext", "noext.scan", "noext"},
                    Row{"dir.d/file", "dir.d/file.scan", "file"},
                    Row{"sa'mple.wiff", "sa'mple.wiff.scan", "sa'mple"},
                    Row{"\xC3\x9F.wiff", "\xC3\x9F.wiff.scan", "\xC3\x9F"},
                    // Bytes that are not UTF-8 name the file as they are; the sample
                    // name has U+FFFD for each maximal invalid part.
                    Row{"d/\xFF\xE2\x82.wiff", "d/\xFF\xE2\x82.wiff.scan", "\xEF\xBF\xBD\xEF\xBF\xBD"},
                    Row{"\xC0\xAFx.y.wiff", "\xC0\xAFx.y.wiff.scan", "\xEF\xBF\xBD\xEF\xBF\xBDx.y"}));

TEST(PathRules, FileStemKeepsTheBytesTheSampleNameReplaces)
{
    EXPECT_EQ(tarvok::path_rules::file_stem_for("d/\xFF\xFE.wiff"), "\xFF\xFE");
    EXPECT_EQ(tarvok::path_rules::file_stem_for("d/\xE2\x82.x.WIFF"), "\xE2\x82.x");
    EXPECT_EQ(tarvok::path_rules::file_stem_for("d/.."), "unknown");
    // A truncated sequence is one replacement, a lead byte past U+10FFFF one per byte.
    EXPECT_EQ(tarvok::path_rules::lossy_text("a\xE2\x82" "b\xF4\x90" "c\xC3\xA9"),
              "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD" "c\xC3\xA9");
}

struct Lossy {
    std::string in;
    std::string out;
};

// U+FFFD is EF BF BD; one per maximal invalid subpart, as Python's "replace" does.
class LossyText : public testing::TestWithParam<Lossy> {};

TEST_P(LossyText, ReplacesEachMaximalInvalidSubpart)
{
    EXPECT_EQ(tarvok::path_rules::lossy_text(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Sequences, LossyText, testing::Values(
    Lossy{"plain \xC3\xA9 \xF0\x9F\x98\x80", "plain \xC3\xA9 \xF0\x9F\x98\x80"},
    Lossy{"\xFF", "\xEF\xBF\xBD"},
    Lossy{"\xE2\x82", "\xEF\xBF\xBD"},                      // cut short at the end
    Lossy{"\xE2\x82x", "\xEF\xBF\xBDx"},
    Lossy{"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},          // overlong lead
    Lossy{"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
    Lossy{"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // past U+10FFFF
    Lossy{"\xF0\x9F\x98", "\xEF\xBF\xBD"},
    Lossy{std::string("a\0b", 3), std::string("a\0b", 3)}));

}  // namespace
