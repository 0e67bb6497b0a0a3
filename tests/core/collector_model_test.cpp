// The collector against a model: random graphs of blocks and strings are built, grown, cut and
// collected (with node evacuation on explicit collections); after each collection every value
// reachable from the root must hold exactly what the model says.
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "datatypes/string.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

struct Model {
    struct Obj {
        bool block;
        std::vector<int> children;  // block: ids of the values after its id cell
        std::string text;           // string: its text
    };
    std::map<int, Obj> objects;
    std::vector<int> roots;  // the root block's values (-1: none)
};

class CollectorModel : public testing::RuntimeTest {
protected:
    Model model;
    std::map<int, Cell> cells;  // id -> a cell naming it (nodes stay put between explicit collections)
    collector::Root root{Cell{T_BLOCK, 0, 0, 0}};
    int next_id = 0;

    void SetUp() override {
        RuntimeTest::SetUp();
        root.cell = Cell{T_BLOCK, 0, memory::make_cells(16), 0};
        for (int i = 0; i < 16; i++) {
            Cell none{T_NONE, 0, 0, 0};
            *buffer::alloc_block_tail(root.get()) = none;
            model.roots.push_back(-1);
        }
    }

    Cell* root_cells() { return memory::buffer_of(root->data2)->head_cell(); }

    // A new value, rooted until it is stored.
    int make_value(bool block, collector::Root& out) {
        int id = next_id++;
        if (block) {
            out.cell = Cell{T_BLOCK, 0, memory::make_cells(2), 0};
            Cell idc{T_INTEGER, 0, uint32_t(id), 0};
            *buffer::alloc_block_tail(out.get()) = idc;
            model.objects[id] = Model::Obj{true, {}, {}};
        } else {
            std::string text = "s" + std::to_string(id) + ":";
            string::make_at(out.get(), uint32_t(text.size()));
            string::concatenate_cstring(out.get(), text);
            model.objects[id] = Model::Obj{false, {}, text};
        }
        return id;
    }

    int id_of(const Cell* c) {
        if (c->is(T_BLOCK)) return int(memory::buffer_of(c->data2)->head_cell()[0].data2);
        std::string t = string::to_utf8(c);
        return std::stoi(t.substr(1, t.find(':') - 1));
    }

    // Walks from the root, checks every value against the model, and refreshes `cells`.
    void verify() {
        cells.clear();
        std::set<int> seen;
        Cell* r = root_cells();
        ASSERT_EQ(memory::buffer_of(root->data2)->length(), model.roots.size());
        std::vector<std::pair<Cell, int>> todo;
        for (size_t i = 0; i < model.roots.size(); i++) {
            if (model.roots[i] < 0) {
                ASSERT_TRUE(r[i].is(T_NONE));
                continue;
            }
            todo.push_back({r[i], model.roots[i]});
        }
        while (!todo.empty()) {
            auto [c, id] = todo.back();
            todo.pop_back();
            ASSERT_EQ(id_of(&c), id);
            if (!seen.insert(id).second) continue;
            cells[id] = c;
            const Model::Obj& o = model.objects[id];
            if (!o.block) {
                ASSERT_EQ(string::to_utf8(&c), o.text);
                continue;
            }
            SeriesBuffer* b = memory::buffer_of(c.data2);
            ASSERT_EQ(b->length(), o.children.size() + 1);
            for (size_t k = 0; k < o.children.size(); k++) todo.push_back({b->head_cell()[k + 1], o.children[k]});
        }
    }
};

TEST_F(CollectorModel, RandomGraphsSurviveCollectionsAndEvacuation) {
    std::mt19937 rng(20261210);
    auto pick = [&](size_t n) { return size_t(rng() % n); };
    verify();
    // Check mode copies every live buffer at each collection, and stress mode collects at every
    // allocation the walk makes: a shorter walk keeps their time in bounds (the walk collects
    // often by itself), and the plain run takes the whole one.
    const int steps = collector::state.check || collector::state.stress ? 1500 : 6000;
    for (int step = 0; step < steps; step++) {
        int op = int(pick(100));
        std::vector<int> reachable;
        for (auto& [id, c] : cells) reachable.push_back(id);
        if (op < 40 || reachable.empty()) {
            // A new value, stored in a root slot or appended to a reachable block.
            collector::Root v;
            int id = make_value(pick(2) == 0, v);
            std::vector<int> blocks;
            for (int r : reachable)
                if (model.objects[r].block) blocks.push_back(r);
            size_t slot = pick(model.roots.size());
            if (blocks.empty() || (model.roots[slot] < 0 && pick(2) == 0)) {
                bool replaced = model.roots[slot] >= 0;
                root_cells()[slot] = v.cell;
                model.roots[slot] = id;
                if (replaced) verify();  // what only that slot held may be freed now
            } else {
                int target = blocks[pick(blocks.size())];
                Cell* slot_cell = buffer::alloc_block_tail(&cells[target]);
                *slot_cell = v.cell;
                model.objects[target].children.push_back(id);
            }
            if (model.objects[id].block || !cells.count(id)) cells[id] = v.cell;
        } else if (op < 60) {
            // A reachable value stored once more somewhere: graphs share and loop.
            int id = reachable[pick(reachable.size())];
            std::vector<int> blocks;
            for (int r : reachable)
                if (model.objects[r].block) blocks.push_back(r);
            if (blocks.empty()) continue;
            int target = blocks[pick(blocks.size())];
            collector::Root v(cells[id]);
            Cell* slot = buffer::alloc_block_tail(&cells[target]);
            *slot = v.cell;
            model.objects[target].children.push_back(id);
        } else if (op < 75) {
            // Text grows (the buffer moves).
            std::vector<int> strings;
            for (int r : reachable)
                if (!model.objects[r].block) strings.push_back(r);
            if (strings.empty()) continue;
            int id = strings[pick(strings.size())];
            std::string more(1 + pick(200), char('a' + pick(26)));
            string::concatenate_cstring(&cells[id], more);
            model.objects[id].text += more;
        } else if (op < 77) {
            size_t slot = pick(model.roots.size());
            root_cells()[slot] = Cell{T_NONE, 0, 0, 0};
            model.roots[slot] = -1;
            verify();  // forget what is no longer reachable: it may be freed at any allocation
        } else if (op < 80) {
            memory::make_bytes(uint32_t(1 + pick(3)) << 20);  // garbage, sometimes a big series
        } else if (op < 82) {
            collector::collect();  // may evacuate node frames
            verify();
        } else if (op < 83) {
            // Many short-lived nodes with a few kept among them, then collections enough for
            // the sparse node frames to be evacuated.
            collector::Root holder;
            int holder_id = make_value(true, holder);
            size_t slot = pick(model.roots.size());
            root_cells()[slot] = holder.cell;
            model.roots[slot] = holder_id;
            for (int i = 0; i < 25000; i++) {
                if (i % 500 == 499) {
                    collector::Root v;
                    int id = make_value(false, v);
                    Cell* slot_cell = buffer::alloc_block_tail(holder.get());
                    *slot_cell = v.cell;
                    model.objects[holder_id].children.push_back(id);
                } else {
                    memory::make_bytes(16);
                }
            }
            verify();
            for (int i = 0; i < 7; i++) collector::collect();
            verify();
        } else {
            for (int i = 0; i < 20; i++) memory::make_bytes(uint32_t(16 + pick(400)));  // garbage
        }
        if (step % 500 == 0) verify();
        if (HasFatalFailure()) return;
    }
    collector::collect();
    verify();
    EXPECT_GT(collector::state.cycles, 10u);
    // (Under KOV_GC_STRESS garbage dies at once, so no node frame ever becomes sparse.)
    if (!collector::state.stress) {
        EXPECT_GT(collector::state.node_cycles, 0u);
    }
    EXPECT_GT(cells.size(), 500u);
}

}  // namespace
}  // namespace kov
