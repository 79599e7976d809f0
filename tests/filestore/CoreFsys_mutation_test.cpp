// Mutation test of the container reader: thousands of seeded mutants of four valid containers are
// loaded through a reader store holding them in memory (and now and then from a file). No mutant may
// crash the reader, every item it reports in memory must be the bytes its table names, and every
// block must go back to the pool.
#include "base/CoreButl.h"
#include "base/CoreNode.h"
#include "base/CoreXml_.h"
#include "filestore/CoreFsys.h"
#include "tests/common/ByteMutator.h"
#include "tests/filestore/FsysFixture.h"

#include <string>
#include <vector>

using namespace fsystest;

namespace {

constexpr int kMutantsPerContainer = 2000;
constexpr int kFromFileEvery = 50;

void put(CoreFsys& store, const char* name, const std::string& bytes) {
    store.setit(store.crtit(name), bytes.data(), static_cast<int32_t>(bytes.size()), "0", false, false);
}

bool wholeNumber(const CoreNode* element, int64_t& value) {
    const CoreNode* leaf = element->getcd();
    if (!leaf || !leaf->leaf_()) return false;
    const std::string text = str(leaf->gettx().Trim());
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// True when some ITEM of the table names key with an ADDRESS and DIM whose bytes in the file are
// exactly bytes.
bool tableHolds(const CoreAnsx& table, const std::string& key, const std::string& bytes,
                const std::string& file) {
    CoreXml_ doc;
    try {
        if (!doc.getfc(table)) return false;
    } catch (...) {
        return false;
    }
    std::vector<const CoreNode*> pending{doc.getrt()};
    while (!pending.empty()) {
        const CoreNode* node = pending.back();
        pending.pop_back();
        CoreTlst* children = node->getcn();
        for (int i = 0; children && i < children->Count; ++i)
            pending.push_back(static_cast<CoreNode*>(children->Items[i]));
        if (node->leaf_() || node->gettx().Trim().UpperCase() != CoreAnsx("ITEM")) continue;
        std::vector<std::string> names;
        std::vector<int64_t> addresses, dims;
        for (int i = 0; children && i < children->Count; ++i) {
            const auto* field = static_cast<const CoreNode*>(children->Items[i]);
            const std::string tag = str(field->gettx().Trim().UpperCase());
            int64_t value = 0;
            if (tag == "ENTRY" && field->getcd() && field->getcd()->leaf_())
                names.push_back(str(field->getcd()->gettx().Trim().UpperCase()));
            if (tag == "ADDRESS" && wholeNumber(field, value)) addresses.push_back(value);
            if (tag == "DIM" && wholeNumber(field, value)) dims.push_back(value);
        }
        for (const std::string& name : names)
            for (int64_t address : addresses)
                for (int64_t dim : dims)
                    if (name == key && dim == static_cast<int64_t>(bytes.size()) &&
                        44 + address + dim <= static_cast<int64_t>(file.size()) &&
                        file.compare(static_cast<size_t>(44 + address), static_cast<size_t>(dim), bytes) == 0)
                        return true;
    }
    return false;
}

// Checks every in-memory item of store against the mutant; returns the items as one text to compare
// the two ways of reading.
std::string checkItems(const CoreFsys& store, const std::string& mutant, int index) {
    std::string seen;
    for (int i = 0; i < store.getkn(); ++i) {
        int32_t id = -1;
        const std::string key = str(store.llvel(i, id));
        void* data = nullptr;
        const int32_t size = store.getco(id, &data);
        if (!store.isvld(id)) continue;
        const std::string bytes =
            size > 0 ? std::string(static_cast<char*>(data), static_cast<size_t>(size)) : "";
        EXPECT_TRUE(tableHolds(store.gettc(), key, bytes, mutant)) << "mutant " << index << " item " << key;
        seen += key + "=" + bytes + ";";
    }
    return seen;
}

} // namespace

TEST_F(FsysFiles, MutatedContainersNeverCrashTheReaderNorReportBytesTheyDoNotHold) {
    std::vector<std::string> originals;
    {
        CoreFsys empty(&pool);
        ASSERT_TRUE(empty.savea(at("empty.q7p")));
        CoreFsys one(&pool);
        put(one, "ONE.BIN", "only item");
        ASSERT_TRUE(one.savea(at("one.q7p")));
        CoreFsys several(&pool);
        put(several, "PROG.XML", "<PROGRAM><NAME> Warm </NAME><GAIN> 0.5 </GAIN></PROGRAM>");
        std::string wave("RIFF\x24\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x02\x00", 24);
        for (int i = 0; i < 64; ++i) wave += static_cast<char>(i * 37);
        put(several, "VECTORS/KICK.WAV", wave);
        put(several, "VECTORS/SNARE.WAV", wave.substr(0, 40));
        put(several, "EMPTY.BIN", "");
        ASSERT_TRUE(several.savea(at("several.q7v")));
        CoreXml_ doc;
        doc.getfc("<SETUP><A> 1 </A><B> two </B></SETUP>");
        ASSERT_TRUE(CoreFsys::svq7x(&pool, &doc, at("setup.q7x")));
        for (const char* name : {"EMPTY.Q7P", "ONE.Q7P", "SEVERAL.Q7V", "SETUP.Q7X"})
            originals.push_back(readBytes(root / name));
    }
    ASSERT_EQ(pool.getma(), 0);

    int readable = 0; // mutants that still gave items: the check below must have something to check
    const std::vector<std::string> tokens = {"-1", "2147483647", "99999999999", "<ITEM>", "</ITEM>", "<"};
    for (size_t c = 0; c < originals.size(); ++c) {
        const std::string& original = originals[c];
        ByteMutator::Hints hints;
        hints.offsets = {40};
        const uint32_t total = static_cast<uint8_t>(original[40]) | static_cast<uint8_t>(original[41]) << 8 |
                               static_cast<uint8_t>(original[42]) << 16 |
                               static_cast<uint32_t>(static_cast<uint8_t>(original[43])) << 24;
        hints.textStart = 44 + total;
        hints.tokens = tokens;
        ByteMutator mutator(20240601u + static_cast<uint32_t>(c));
        for (int m = 0; m < kMutantsPerContainer; ++m) {
            const std::string mutant = mutator.mutate(original, hints);
            std::string fromMemory;
            {
                CoreFsys holder(&pool);
                put(holder, "MUTANT.Q7P", mutant);
                CoreFsys reader(&pool);
                reader.loada("MUTANT.Q7P", "0", false, &holder);
                fromMemory = checkItems(reader, mutant, m);
            }
            if (!fromMemory.empty()) ++readable;
            if (m % kFromFileEvery == 0) {
                writeBytes(root / "mutant.q7p", mutant);
                CoreFsys reader(&pool);
                reader.loada(at("mutant.q7p"), "0", false, nullptr);
                EXPECT_EQ(checkItems(reader, mutant, m), fromMemory) << "mutant " << m;
            }
            ASSERT_EQ(pool.getma(), 0) << "container " << c << " mutant " << m;
            if (HasFailure()) return;
        }
    }
    EXPECT_GT(readable, kMutantsPerContainer);
}
