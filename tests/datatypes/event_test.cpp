// event!: the type maps, field reads of backend-form events through a stand-in backend, the
// internal error not-done while no backend answers, own-values events across collections, the
// cell layout the collector walks, comparison codes and the text forms.
#include <cmath>
#include <limits>
#include <string>

#include "core/cell_layout.hpp"
#include "core/cells.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/event.hpp"
#include "datatypes/float.hpp"
#include "evaluator/lexer.hpp"
#include "tests/datatypes/literal_fixture.hpp"
#include "tests/evaluator/actions_fixture.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::in_frame;
using testing::spelling;

Cell word(const char* s) { return cells::make_word(T_WORD, 0, symbol::make(s)); }

// A stand-in for the text-UI backend: two records, live while `live` says so.
event::BackendRecord records[2];
bool live = true;
Cell sent{};
bool sent_queued = false;

const event::BackendRecord* record(uint32_t id) {
    if (!live || id < 1 || id > 2) return nullptr;
    return &records[id - 1];
}
bool send(const Cell* ev, bool queued) {
    sent = *ev;
    sent_queued = queued;
    return true;
}

class Event : public testing::RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        event::init();
        live = true;
        records[0] = {cells::make_integer(77), 2.9f, -1.7f, 0, 0.0f};
        records[1] = records[0];
    }
    void TearDown() override { event::backend = {}; }
    static event::Backend stand_in() { return {record, send}; }
    // Field `index` of the event, read in a frame: the value, or the error's "category/id".
    static testing::Called field(Cell ev, int32_t index) {
        return in_frame("test", {ev}, [index] {
            Cell* r = event::push_field(stack::arguments, index);
            *stack::arguments = *r;
        });
    }
};

TEST_F(Event, TypeMaps) {
    const char* names[] = {"down", "up", "mid-down", "mid-up", "alt-down", "alt-up", "aux-down",
                           "aux-up", "click", "dbl-click", "wheel", "over", "key", "key-down",
                           "key-up", "ime", "focus", "unfocus", "enter", "zoom", "pan", "rotate",
                           "two-tap", "press-tap", "select", "change", "menu", "close", "move",
                           "resize", "moving", "resizing", "time", "drawing", "scroll",
                           "minimize", "maximize", "restore"};
    ASSERT_EQ(std::size(names), size_t(event::TYPE_COUNT));
    for (uint32_t id = 1; id <= event::TYPE_COUNT; id++) {
        Cell w = event::type_word(id);
        ASSERT_TRUE(w.is(T_WORD)) << id;
        EXPECT_EQ(spelling(w), names[id - 1]);
        Cell probe = word(names[id - 1]);
        EXPECT_EQ(event::type_of_word(&probe), id);
    }
    EXPECT_TRUE(event::type_word(0).is(T_NONE));
    EXPECT_TRUE(event::type_word(event::TYPE_COUNT + 1).is(T_NONE));
    Cell upper = word("DBL-Click"), bogus = word("bogus");
    EXPECT_EQ(event::type_of_word(&upper), 10u);
    EXPECT_EQ(event::type_of_word(&bogus), 0u);
    Cell ev = event::make_backend_cell(1, 1, 0);
    event::set_type(&ev, &upper);
    EXPECT_EQ(ev.data1, 10u);
    testing::Called c = in_frame("test", {}, [&] { event::set_type(&ev, &bogus); });
    EXPECT_EQ(c.error, "script/not-event-type");
    EXPECT_EQ(spelling(c.arg[0]), "bogus");
    EXPECT_EQ(ev.data1, 10u);
}

TEST_F(Event, Registration) {
    EXPECT_STREQ(type_registry::names[T_EVENT].name, "event!");
    const ActionTable& t = type_registry::table(T_EVENT);
    EXPECT_TRUE(t.make && t.form && t.mold && t.eval_path && t.compare && t.pick);
    EXPECT_FALSE(t.to || t.set_path || t.random || t.copy || t.poke || t.length_q);
}

TEST_F(Event, BackendKeys) {
    event::backend = stand_in();
    struct Case {
        uint32_t flags;
        int32_t key;
        const char* word;  // expected word, or null
        int32_t ch;        // expected char code when no word; -1: none
    };
    const Case cases[] = {
        {event::SPECIAL_KEY, -29, "page-down", 0}, {event::SPECIAL_KEY, -20, "up", 0},
        {event::SPECIAL_KEY, -28, "page-up", 0},   {event::SPECIAL_KEY, -31, "F1", 0},
        {event::SPECIAL_KEY, -42, "F12", 0},       {event::SPECIAL_KEY, -30, nullptr, -1},
        {event::SPECIAL_KEY, -19, nullptr, -1},    {event::SPECIAL_KEY, -43, nullptr, -1},
        {event::SPECIAL_KEY, 'a', nullptr, -1},    {0, 'q', nullptr, 'q'},
        {0, 0x1F600, nullptr, 0x1F600},            {0, -5, nullptr, -1},
        {0, 0x110000, nullptr, -1},
    };
    for (const Case& k : cases) {
        records[0].key_or_picked = k.key;
        testing::Called c = field(event::make_backend_cell(13, 1, k.flags), event::F_KEY);
        ASSERT_EQ(c.error, "") << k.key;
        if (k.word) {
            ASSERT_TRUE(c.value.is(T_WORD)) << k.key;
            EXPECT_EQ(spelling(c.value), k.word);
        } else if (k.ch < 0) {
            EXPECT_TRUE(c.value.is(T_NONE)) << k.key;
        } else {
            ASSERT_TRUE(c.value.is(T_CHAR)) << k.key;
            EXPECT_EQ(int32_t(c.value.data2), k.ch);
        }
    }
}

TEST_F(Event, BackendFields) {
    event::backend = stand_in();
    records[0].key_or_picked = 12;
    records[0].wheel = -1.0f;
    Cell wheel = event::make_backend_cell(event::WHEEL_TYPE, 1, event::DOWN | event::SHIFT);
    testing::Called p = field(wheel, event::F_PICKED);
    ASSERT_TRUE(p.value.is(T_FLOAT));
    EXPECT_EQ(p.value.get_float(), -1.0);
    Cell click = event::make_backend_cell(9, 1, event::CONTROL);
    p = field(click, event::F_PICKED);
    ASSERT_TRUE(p.value.is(T_INTEGER));
    EXPECT_EQ(cells::integer(p.value), 12);
    testing::Called o = field(click, event::F_OFFSET);
    ASSERT_TRUE(o.value.is(T_PAIR));
    EXPECT_EQ(int32_t(o.value.data2), 2);   // 2.9 toward zero
    EXPECT_EQ(int32_t(o.value.data3), -1);  // -1.7 toward zero
    records[0].x = std::numeric_limits<float>::quiet_NaN();
    records[0].y = 1e30f;
    o = field(click, event::F_OFFSET);
    EXPECT_EQ(int32_t(o.value.data2), 0);
    EXPECT_EQ(int32_t(o.value.data3), INT32_MAX);
    records[0].y = -std::numeric_limits<float>::infinity();
    o = field(click, event::F_OFFSET);
    EXPECT_EQ(int32_t(o.value.data3), INT32_MIN);
    testing::Called f = field(click, event::F_FACE);
    ASSERT_TRUE(f.value.is(T_INTEGER));
    EXPECT_EQ(cells::integer(f.value), 77);
    EXPECT_TRUE(field(click, event::F_WINDOW).value.is(T_NONE));
    EXPECT_EQ(spelling(field(click, event::F_TYPE).value), "click");
    EXPECT_TRUE(cells::logic(field(click, event::F_CTRL_Q).value));
    EXPECT_FALSE(cells::logic(field(click, event::F_DOWN_Q).value));
    EXPECT_TRUE(cells::logic(field(wheel, event::F_SHIFT_Q).value));
    EXPECT_TRUE(field(click, event::F_ORIENTATION).value.is(T_NONE));
}

TEST_F(Event, WithoutALiveRecordTheRecordFieldsAreNotDone) {
    Cell ev = event::make_backend_cell(13, 1, event::DOWN);
    for (int pass = 0; pass < 2; pass++) {
        if (pass == 1) {  // a backend whose record is gone
            event::backend = stand_in();
            live = false;
        }
        for (int32_t i : {event::F_FACE, event::F_OFFSET, event::F_KEY, event::F_PICKED})
            EXPECT_EQ(field(ev, i).error, "internal/not-done") << pass << " " << i;
        // The fields that live in the cell read as usual.
        EXPECT_EQ(spelling(field(ev, event::F_TYPE).value), "key");
        EXPECT_TRUE(field(ev, event::F_WINDOW).value.is(T_NONE));
        EXPECT_TRUE(cells::logic(field(ev, event::F_DOWN_Q).value));
        EXPECT_TRUE(field(ev, event::F_FLAGS).value.is(T_BLOCK));
    }
}

TEST_F(Event, SendEventOs) {
    Cell ev = event::make_backend_cell(9, 2, 0);
    Cell yes = cells::make_logic(true);
    testing::Called c = in_frame("send-event-os", {ev, yes}, [] { event::send_event_os(); });
    EXPECT_EQ(c.error, "internal/not-done");
    event::backend = stand_in();
    c = in_frame("send-event-os", {ev, yes}, [] { event::send_event_os(); });
    EXPECT_EQ(c.error, "");
    EXPECT_TRUE(c.value.is(T_LOGIC) && cells::logic(c.value));
    EXPECT_TRUE(sent.is(T_EVENT) && sent.data2 == 2u && sent_queued);
}

// An own-values event keeps its block through collections that move buffers and nodes, and the
// collector follows data2 only in that form.
TEST_F(Event, OwnValuesAcrossCollections) {
    Root spec;
    lexer::scan(spec.get(), "type: 'over offset: 3x4 picked: 5 key: #\"k\" flags: [away]");
    Root ev;
    testing::Called made = in_frame("make", {cells::make_datatype(T_EVENT), spec.cell}, [] {
        *stack::arguments = *event::make(stack::arguments, stack::arguments + 1, T_EVENT);
    });
    ASSERT_EQ(made.error, "");
    ev.cell = made.value;
    ASSERT_TRUE(event::own_form(*ev));
    ASSERT_NE(ev->data2, 0u);
    EXPECT_EQ(cell_layout::node_in(*ev, 1, cell_layout::of(T_EVENT).data[1]), ev->data2);
    Cell backend_cell = event::make_backend_cell(9, 12345, 0);
    EXPECT_EQ(cell_layout::node_in(backend_cell, 1, cell_layout::of(T_EVENT).data[1]), 0u);
    for (int round = 0; round < 3; round++) {
        for (int i = 0; i < 200; i++) {
            Root junk;
            block::make_at(junk.get(), 64);
        }
        collector::collect();
        testing::Called o = field(*ev, event::F_OFFSET);
        ASSERT_TRUE(o.value.is(T_PAIR));
        EXPECT_EQ(int32_t(o.value.data2), 3);
        EXPECT_EQ(int32_t(o.value.data3), 4);
        EXPECT_EQ(cells::integer(field(*ev, event::F_PICKED).value), 5);
        EXPECT_TRUE(field(*ev, event::F_FACE).value.is(T_NONE));
        EXPECT_EQ(field(*ev, event::F_KEY).value.data2, uint32_t('k'));
        EXPECT_EQ(spelling(field(*ev, event::F_TYPE).value), "over");
        EXPECT_TRUE(cells::logic(field(*ev, event::F_AWAY_Q).value));
    }
}

TEST_F(Event, CompareCodes) {
    Cell a = event::make_backend_cell(1, 1, 0), b = event::make_backend_cell(2, 2, 5);
    Cell n = cells::make_integer(1);
    for (int op = COMP_EQUAL; op <= COMP_FIND; op++) {
        bool equal_answer = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL ||
                            op == COMP_SAME || op == COMP_FIND || op == COMP_SORT ||
                            op == COMP_CASE_SORT;
        EXPECT_EQ(event::compare(&a, &b, op), equal_answer ? 0 : NOT_COMPARABLE) << op;
        EXPECT_EQ(event::compare(&a, &n, op), NOT_COMPARABLE) << op;
    }
    EXPECT_EQ(type_registry::relation(&a, &b, COMP_EQUAL), 1);
    EXPECT_EQ(type_registry::relation(&a, &b, COMP_NOT_EQUAL), 0);
    EXPECT_EQ(type_registry::relation(&a, &b, COMP_LESSER), 0);
}

TEST_F(Event, Text) {
    Root own(Cell{T_EVENT | EVENT_FLAG, 0, 0, 0});
    Root backend(event::make_backend_cell(9, 1, 0));
    for (Cell* c : {own.get(), backend.get()}) {
        EXPECT_EQ(testing::formed(c), "event");
        EXPECT_EQ(testing::molded(c), "event");
        EXPECT_EQ(testing::molded(c, true), "event");
    }
}

}  // namespace
}  // namespace kov
