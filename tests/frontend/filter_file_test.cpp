// The "-fc" file reader: the taps it reads, and the message of every kind of bad file.

#include "frontend/filter_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/test_files.h"

namespace vellox {
namespace {

using TempFile = test::TextFile;

// Reads text as a "-fc" file; returns what it printed on standard error.
std::string read_errors(const std::string& path, FilterFileResult* result,
                        std::vector<double>* taps = nullptr) {
    std::int32_t count = 0;
    std::unique_ptr<double[]> read;
    testing::internal::CaptureStderr();
    *result = read_filter_file(path.c_str(), &count, &read);
    const std::string errors = testing::internal::GetCapturedStderr();
    if (taps != nullptr && *result == FilterFileResult::ok)
        taps->assign(read.get(), read.get() + count);
    return errors;
}

TEST(FilterFile, ReadsMagnitudesInFormattedInputNotation) {
    TempFile file("  +3\t3e-1 -1.5e0\n5 trailing words are ignored 1e999");
    FilterFileResult result = FilterFileResult::bad_count;
    std::vector<double> taps;
    EXPECT_EQ(read_errors(file.path, &result, &taps), "");
    ASSERT_EQ(result, FilterFileResult::ok);
    EXPECT_EQ(taps, (std::vector<double>{0.3, 1.5, 5}));
}

TEST(FilterFile, TheLargestTapCountIsRead) {
    std::string text = "1048576";
    text.reserve(text.size() + 2 * 1048576);
    for (std::int32_t i = 0; i < 1048576; ++i) text += " 1";
    TempFile file(text);
    FilterFileResult result = FilterFileResult::bad_count;
    std::vector<double> taps;
    EXPECT_EQ(read_errors(file.path, &result, &taps), "");
    EXPECT_EQ(result, FilterFileResult::ok);
    EXPECT_EQ(taps.size(), 1048576U);
}

TEST(FilterFile, BadFilesPrintTheirMessage) {
    struct Case {
        const char* text;
        FilterFileResult result;
        const char* message;  // before ": '<path>'\n"
    };
    const Case cases[] = {
        {"", FilterFileResult::bad_count, "Error: Bad tap count in file"},
        {"  \n ", FilterFileResult::bad_count, "Error: Bad tap count in file"},
        {"abc 1 2", FilterFileResult::bad_count, "Error: Bad tap count in file"},
        {"- 3 1 2 3", FilterFileResult::bad_count, "Error: Bad tap count in file"},
        {"3 1 2", FilterFileResult::bad_value, "Error: Bad numeric format in file"},
        {"3 1 x 2", FilterFileResult::bad_value, "Error: Bad numeric format in file"},
        {"3abc", FilterFileResult::bad_value, "Error: Bad numeric format in file"},
        // Values that are no finite numbers.
        {"2 nan 1", FilterFileResult::bad_value, "Error: Bad numeric format in file"},
        {"2 1 -inf", FilterFileResult::bad_value, "Error: Bad numeric format in file"},
        {"3 1 2 1e999", FilterFileResult::bad_value, "Error: Bad numeric format in file"},
        {"1 INFINITY", FilterFileResult::bad_value, "Error: Bad numeric format in file"},
    };
    for (const Case& c : cases) {
        TempFile file(c.text);
        FilterFileResult result = FilterFileResult::ok;
        EXPECT_EQ(read_errors(file.path, &result),
                  std::string(c.message) + ": '" + file.path + "'\n")
            << "file text: \"" << c.text << "\"";
        EXPECT_EQ(result, c.result);
    }
    TempFile file("");
    const std::string missing = file.path + ".missing";
    FilterFileResult result = FilterFileResult::ok;
    EXPECT_EQ(read_errors(missing, &result),
              "Error: No such file or directory: '" + missing + "'\n");
    EXPECT_EQ(result, FilterFileResult::cannot_open);
}

TEST(FilterFile, UnusableCountsFailWithoutMessage) {
    // Counts beyond the limit fail before any value is read: the files hold too few values,
    // so reading would have printed "Bad numeric format in file".
    // A count below -2^31 must not wrap into the range: -4294967295 is 1 modulo 2^32.
    for (const char* text : {"0 1 2", "-3 1 2 3", "-2147483648", "-4294967295 1", "2000000000",
                             "99999999999", "1048577 1"}) {
        TempFile file(text);
        FilterFileResult result = FilterFileResult::ok;
        EXPECT_EQ(read_errors(file.path, &result), "") << "file text: \"" << text << "\"";
        EXPECT_EQ(result, FilterFileResult::unusable_count);
    }
}

}  // namespace
}  // namespace vellox
