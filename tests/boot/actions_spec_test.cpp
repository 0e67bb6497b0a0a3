// The action specs of the boot environment (boot/actions.kov): the text loads, defines one
// action! per id but eval-path, set-path and compare, and each spec lists the arguments and
// refinements in the order the front-ends read them.
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "evaluator/lexer.hpp"
#include "tests/core/runtime_fixture.hpp"

namespace kov {
namespace {

using collector::Root;

class ActionSpecs : public testing::RuntimeTest {
protected:
    static std::string source() {
        std::ifstream in(std::string(KOV_SOURCE_DIR) + "/boot/actions.kov", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static std::vector<Cell> cells_of(const Cell& blk) {
        SeriesBuffer* b = memory::buffer_of(cells::series_node(blk));
        return std::vector<Cell>(b->head_cell() + cells::series_index(blk), b->head_cell() + b->length());
    }
    static std::string name(const Cell& w) { return std::string(symbol::name(cells::word_symbol(w))); }
};

TEST_F(ActionSpecs, OneActionPerIdWithItsArgumentsInFrontEndOrder) {
    std::string text = source();
    ASSERT_FALSE(text.empty());
    Root loaded;
    stack::Snapshot saved;
    stack::mark_try(nullptr);
    try {
        lexer::scan(loaded.get(), text);
    } catch (const Unwind&) {
        FAIL() << "the text does not load";
    }
    ASSERT_TRUE(loaded->is(T_BLOCK));
    collector::CollectorOff off;
    std::vector<Cell> top = cells_of(*loaded);

    // The arguments and refinements of each spec (words and refinements, in order), by id.
    std::map<int32_t, std::string> specs;
    std::map<int32_t, std::string> names;
    int set_words = 0;
    for (size_t i = 0; i < top.size(); i++) {
        if (!top[i].is(T_SET_WORD)) continue;
        set_words++;
        ASSERT_LT(i + 3, top.size());
        EXPECT_EQ(name(top[i + 1]), "make");
        EXPECT_EQ(name(top[i + 2]), "action!");
        ASSERT_TRUE(top[i + 3].is(T_BLOCK));
        std::vector<Cell> body = cells_of(top[i + 3]);
        ASSERT_EQ(body.size(), 2u) << name(top[i]);
        ASSERT_TRUE(body[0].is(T_BLOCK));
        ASSERT_TRUE(body[1].is(T_INTEGER));
        int32_t id = cells::integer(body[1]);
        EXPECT_EQ(specs.count(id), 0u) << id;
        std::string spec;
        for (const Cell& c : cells_of(body[0])) {
            if (c.is(T_WORD)) {
                spec += name(c) + " ";
            } else if (c.is(T_REFINEMENT)) {
                spec += "/" + name(c) + " ";
            } else if (c.is(T_BLOCK)) {
                for (const Cell& t : cells_of(c)) EXPECT_TRUE(t.is(T_WORD)) << name(top[i]);
            }
        }
        specs[id] = spec;
        names[id] = name(top[i]);
    }
    EXPECT_EQ(set_words, 59);
    for (int32_t id = 1; id <= ACTION_COUNT; id++)
        EXPECT_EQ(specs.count(id), id >= A_EVAL_PATH && id <= A_COMPARE ? 0u : 1u) << id;

    const std::map<int32_t, std::string> expected = {
        {A_RANDOM, "value /seed /secure /only "},
        {A_FORM, "value /part limit "},
        {A_MOLD, "value /only /all /flat /part limit "},
        {A_ROUND, "n /to scale /even /down /half-down /floor /ceiling /half-ceiling "},
        {A_APPEND, "series value /part length /only /dup count "},
        {A_CHANGE, "series value /part range /only /dup count "},
        {A_COPY, "value /part length /deep /types kind "},
        {A_FIND, "series value /part length /only /case /same /any /with wild /skip size /last "
                 "/reverse /tail /match "},
        {A_INSERT, "series value /part length /only /dup count "},
        {A_MOVE, "origin target /part length "},
        {A_PUT, "series key value /case "},
        {A_REMOVE, "series /part length /key key-arg "},
        {A_REVERSE, "series /part length /skip size "},
        {A_SELECT, "series value /part length /only /case /same /any /with wild /skip size /last "
                   "/reverse "},
        {A_SORT, "series /case /skip size /compare comparator /part length /all /reverse /stable "},
        {A_TAKE, "series /part length /deep /last "},
        {A_TRIM, "series /head /tail /auto /lines /all /with str "},
        {A_MODIFY, "target field value /case "},
        {A_OPEN, "port /new /read /write /seek /allow access "},
        {A_READ, "source /part length /seek index /binary /lines /info /as encoding "},
        {A_WRITE, "destination data /binary /lines /info /append /part length /seek index /allow "
                  "access /as encoding "},
        {A_MAKE, "type spec "}, {A_TO, "type spec "}, {A_REFLECT, "value field "},
        {A_PICK, "series index "}, {A_POKE, "series index value "}, {A_RENAME, "from to "},
    };
    for (const auto& [id, spec] : expected) EXPECT_EQ(specs[id], spec) << names[id];
    EXPECT_EQ(names[A_AND_T], "and~");
    EXPECT_EQ(names[A_LENGTH_Q], "length?");
    EXPECT_EQ(names[A_WRITE], "write");
}

}  // namespace
}  // namespace kov
