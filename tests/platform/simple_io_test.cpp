// simple_io: the directory-path rule and the splitting of bytes into lines.
#include <string>
#include <vector>

#include "../core/runtime_fixture.hpp"
#include "core/collector.hpp"
#include "datatypes/block.hpp"
#include "datatypes/string.hpp"
#include "platform/simple_io.hpp"

namespace kov {
namespace {

using collector::Root;
using collector::SeriesRef;

class SimpleIo : public testing::RuntimeTest {};

TEST(SimpleIoPaths, DirectoryPathRule) {
    const std::vector<std::pair<std::u32string, bool>> cases = {
        {U"/", true},   {U"a/", true},  {U"a\\", true},  {U".", true},   {U"..", true},
        {U"a/.", true}, {U"a/..", true}, {U"a\\..", true}, {U"", false},   {U"a", false},
        {U"a.", false}, {U".a", false},  {U"a..", false},  {U"..a", false}, {U"a/...", false},
    };
    for (const auto& [path, dir] : cases)
        EXPECT_EQ(simple_io::dir_path_q(path), dir) << std::string(path.begin(), path.end());
}

std::vector<std::string> lines_of(const std::string& bytes) {
    Root out;
    simple_io::lines_to_block(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                              out.get());
    std::vector<std::string> got;
    SeriesRef blk(*out);
    for (uint32_t i = 0; i < blk.total(); i++) got.push_back(string::to_utf8(blk.cell_at(i)));
    return got;
}

TEST_F(SimpleIo, LinesSplitAtLineFeeds) {
    using V = std::vector<std::string>;
    EXPECT_EQ(lines_of("a\r\nb\n\nc"), (V{"a", "b", "", "c"}));
    EXPECT_EQ(lines_of("a\n"), (V{"a"}));
    EXPECT_EQ(lines_of(""), V{});
    EXPECT_EQ(lines_of("\n"), (V{""}));
    EXPECT_EQ(lines_of("a\rb\n"), (V{"a\rb"}));        // a lone CR stays in the line
    EXPECT_EQ(lines_of("\r\n\r\n"), (V{"", ""}));
    EXPECT_EQ(lines_of("h\xC3\xA9\nz"), (V{"h\xC3\xA9", "z"}));
}

}  // namespace
}  // namespace kov
