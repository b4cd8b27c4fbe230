// The JSON texts of the command line's machine-readable output.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "support/CommaLocale.h"
#include "util/Json.h"

namespace vindelor::util {
namespace {

TEST(Json, StringsAreValidUtf8WithEveryControlEscaped) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case utf8[] = {
        {"plain", "\"plain\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"tab\tcr\rlf\n", "\"tab\\tcr\\rlf\\n\""},
        {std::string("\x01\x1F\x7F", 3), "\"\\u0001\\u001F\\u007F\""},
        {"\xC2\xB5 \xE2\x82\xAC", "\"\xC2\xB5 \xE2\x82\xAC\""},  // UTF-8 passes through
        {"\xC2\x85", "\"\\u0085\""},                            // a C1 control, escaped
        // Bytes that are not UTF-8 read as Windows-1252: the result stays valid UTF-8.
        {"a\x80z", "\"a\xE2\x82\xAC" "z\""},
        {"\xE2\x82", "\"\xC3\xA2\xE2\x80\x9A\""},  // cut short
        {"\xC0\xAF", "\"\xC3\x80\xC2\xAF\""},      // overlong
    };
    for (const auto& c : utf8) EXPECT_EQ(JsonString(c.in), c.out) << c.in;

    EXPECT_EQ(JsonString1252("\x92\x96\x80 \xB5"), "\"\xE2\x80\x99\xE2\x80\x93\xE2\x82\xAC \xC2\xB5\"");
    EXPECT_EQ(JsonString1252("\x81\x01"), "\"\\u0081\\u0001\"");  // an unused code is its C1 control
}

TEST(Json, NumbersReadBackTheSameInEveryLocaleAndNonFiniteIsNull) {
    testing::CommaLocale comma;
    EXPECT_EQ(JsonNumber(1.5), "1.5");
    EXPECT_EQ(JsonNumber(0.1), "0.1");
    EXPECT_EQ(JsonNumber(-2), "-2");
    EXPECT_EQ(JsonNumber(1e20), "1e+20");
    EXPECT_EQ(JsonNumber(1.0 / 65536), "1.52587890625e-05");
    EXPECT_EQ(JsonNumber(std::numeric_limits<double>::quiet_NaN()), "null");
    EXPECT_EQ(JsonNumber(-std::numeric_limits<double>::infinity()), "null");
}

TEST(Json, ObjectsKeepTheirOrderAndNest) {
    const std::vector<std::string> items {"1", JsonObject().text("k", "v").str()};
    const std::string inner = JsonObject().integer("n", -3).boolean("b", false).null("z").str();
    EXPECT_EQ(JsonObject().str(), "{}");
    EXPECT_EQ(JsonArray({}), "[]");
    EXPECT_EQ(JsonObject()
                  .text("name", "x")
                  .value("inner", inner)
                  .value("list", JsonArray(items))
                  .text1252("d", "\x80")
                  .number("v", 0.25)
                  .str(),
              "{\"name\":\"x\",\"inner\":{\"n\":-3,\"b\":false,\"z\":null},\"list\":[1,{\"k\":\"v\"}],"
              "\"d\":\"\xE2\x82\xAC\",\"v\":0.25}");
}

}  // namespace
}  // namespace vindelor::util
