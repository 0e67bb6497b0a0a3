// simple_io: the directory-path rule, the splitting of bytes into lines and the output
// decoding buffer.
#include <string>
#include <vector>

#include "../core/runtime_fixture.hpp"
#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
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

TEST_F(SimpleIo, OutputBufferIsMadeAtStartUpAndKept) {
    Cell* buf = simple_io::output_buffer();
    ASSERT_TRUE(buf->is(T_STRING));
    SeriesBuffer* b = memory::buffer_of(buf->data2);
    EXPECT_GE(uint32_t(b->size), simple_io::OUTPUT_BUFFER_UNITS);
    EXPECT_EQ(b->unit(), 1u);
    // The same buffer after a collection (it lives in the root block), at the same root cell.
    collector::collect();
    Cell* again = simple_io::output_buffer();
    ASSERT_TRUE(again->is(T_STRING));
    EXPECT_GE(uint32_t(memory::buffer_of(again->data2)->size), simple_io::OUTPUT_BUFFER_UNITS);
    // Without it (as before start-up made it), the accessor makes it on demand.
    uint32_t cells_before = memory::buffer_of(boot::root_block)->length();
    simple_io::unbind();
    Cell* made = simple_io::output_buffer();
    ASSERT_TRUE(made->is(T_STRING));
    EXPECT_EQ(memory::buffer_of(boot::root_block)->length(), cells_before + 1);
    EXPECT_EQ(simple_io::output_buffer(), made);
}

}  // namespace
}  // namespace kov
