// The masters a run keeps: each load reaches the database once per run, a failure is asked again.
#include "convert/MasterCache.h"

#include "ConvertFixtures.h"

namespace edi::test {
namespace {

// Counts the loads that reach the masters behind it; fails them all while `down`.
class CountingMasters final : public FormatMasterSource {
public:
    explicit CountingMasters(MemoryMasters& rows) : rows_(rows) {}
    LoadResult LoadFormatInfo(std::string_view kind, std::string_view bpid, FormatInfo& info) override {
        return Count() ? rows_.LoadFormatInfo(kind, bpid, info) : LoadResult{};
    }
    LoadResult LoadMessageItems(std::string_view kind, std::string_view bpid, ItemList& items) override {
        return Count() ? rows_.LoadMessageItems(kind, bpid, items) : LoadResult{};
    }
    LoadResult LoadLocalItems(std::string_view kind, std::string_view bpid, ItemList& items) override {
        return Count() ? rows_.LoadLocalItems(kind, bpid, items) : LoadResult{};
    }
    LoadResult LoadMessageGroupInfo(std::string_view partner, std::string_view own, std::string_view kind,
                                    MessageGroupInfo& info) override {
        return Count() ? rows_.LoadMessageGroupInfo(partner, own, kind, info) : LoadResult{};
    }
    int loads = 0;
    bool down = false;

private:
    bool Count() {
        ++loads;
        return !down;
    }
    MemoryMasters& rows_;
};

TEST_F(ConverterTest, KeptMastersAnswerAsTheDatabaseDidUntilTheCacheIsCleared) {
    UseFields();
    CountingMasters database(masters);
    MasterCache cache;
    CachedMasters cached(database, cache);
    FormatInfo direct_info;
    ItemList direct_items;
    ASSERT_TRUE(masters.LoadFormatInfo("0110", "BP000001", direct_info).Ok());
    ASSERT_TRUE(masters.LoadLocalItems("0110", "BP000001", direct_items).Ok());

    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        FormatInfo info;
        ItemList items;
        ItemList left_alone;
        left_alone.Append(RecordFormatItem{});
        EXPECT_TRUE(cached.LoadFormatInfo("0110", "BP000001", info).Ok());
        EXPECT_TRUE(cached.LoadLocalItems("0110", "BP000001", items).Ok());
        EXPECT_EQ(cached.LoadMessageItems("9999", "BP000001", left_alone).status, LoadStatus::kNoRows);
        EXPECT_EQ(info.格納モード, direct_info.格納モード);
        EXPECT_EQ(items.Count(), direct_items.Count());
        EXPECT_EQ(left_alone.Count(), 1) << "a load that found nothing leaves the caller's list";
        EXPECT_EQ(database.loads, 3) << "the second pass is answered from the cache";
    }

    // A failed load is not kept: the next conversion asks again.
    FormatInfo info;
    database.down = true;
    EXPECT_EQ(cached.LoadFormatInfo("0120", "BP000001", info).status, LoadStatus::kDatabaseError);
    database.down = false;
    EXPECT_EQ(cached.LoadFormatInfo("0120", "BP000001", info).status, LoadStatus::kNoRows);
    EXPECT_EQ(database.loads, 5);

    // A new run reads the masters again, and sees what changed since.
    masters.FormatRows.clear();
    cache.Clear();
    EXPECT_EQ(cached.LoadFormatInfo("0110", "BP000001", info).status, LoadStatus::kNoRows);
    EXPECT_EQ(database.loads, 6);
}

}  // namespace
}  // namespace edi::test
