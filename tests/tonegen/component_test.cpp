// The framework base: ownership, names, the designing flag, binary values and their streams.
#include "component.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Records the order in which components are destroyed.
class Recorded : public TComponent {
 public:
  Recorded(TComponent* owner, std::string tag, std::vector<std::string>* log)
      : TComponent(owner), tag_(std::move(tag)), log_(log) {}
  ~Recorded() override { log_->push_back(tag_); }

 private:
  std::string tag_;
  std::vector<std::string>* log_;
};

TEST(Component, OwnerDestroysWhatItOwnsLastInsertedFirst) {
  std::vector<std::string> log;
  {
    auto owner = std::make_unique<Recorded>(nullptr, "owner", &log);
    new Recorded(owner.get(), "first", &log);
    auto* second = new Recorded(owner.get(), "second", &log);
    new Recorded(second, "grandchild", &log);
    EXPECT_EQ(owner->ComponentCount(), 2);
    EXPECT_EQ(second->Owner(), owner.get());
  }
  // The owner's own destructor body runs first, then its components go, newest first.
  EXPECT_EQ(log, (std::vector<std::string>{"owner", "second", "grandchild", "first"}));
}

TEST(Component, DestroyedEarlyItLeavesItsOwnerSoItIsNotDestroyedTwice) {
  std::vector<std::string> log;
  {
    TComponent owner(nullptr);
    {
      Recorded held(&owner, "held", &log);
      EXPECT_EQ(owner.ComponentCount(), 1);
    }
    EXPECT_EQ(owner.ComponentCount(), 0);
  }
  EXPECT_EQ(log, std::vector<std::string>{"held"});
}

TEST(Component, DesigningComesFromTheOwnerAndPassesToOwnedComponents) {
  TComponent form(nullptr);
  form.SetDesigning(true);
  auto* designed = new TComponent(&form);
  EXPECT_TRUE(designed->Designing());
  form.SetDesigning(false);
  EXPECT_FALSE(designed->Designing());
  TComponent running(nullptr);
  EXPECT_FALSE(running.Designing());
  EXPECT_FALSE(running.Loading());
  running.SetName("ToneGen1");
  EXPECT_EQ(running.Name(), "ToneGen1");
}

TEST(Component, StreamReadsWhatWasWrittenAndRefusesToReadPastItsEnd) {
  TBinaryStream written;
  const uint8_t bytes[5] = {1, 2, 3, 4, 5};
  written.WriteBuffer(bytes, sizeof bytes);
  TBinaryStream stream(written.Bytes());
  uint8_t head[3] = {};
  ASSERT_TRUE(stream.ReadBuffer(head, 3));
  EXPECT_EQ(head[2], 3);
  uint8_t tail[3] = {9, 9, 9};
  EXPECT_FALSE(stream.ReadBuffer(tail, 3));
  EXPECT_EQ(tail[0], 9);  // nothing was read
  EXPECT_EQ(stream.Remaining(), 2u);
}

TEST(Component, FilerFindsTheBinaryValuesDefined) {
  TFiler filer;
  TComponent plain(nullptr);
  plain.DefineProperties(filer);
  EXPECT_TRUE(filer.Properties().empty());
  filer.DefineBinaryProperty(
      "Block", [](TBinaryStream&) { return true; }, [](TBinaryStream&) {}, true);
  ASSERT_NE(filer.Find("Block"), nullptr);
  EXPECT_EQ(filer.Find("Other"), nullptr);
}

}  // namespace
