#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "MultiPartyTestUtils.h"
#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/impl/MockupProtocolMessage.h"
#include "hebase/impl/ProtocolMessage.h"
#include "hebase/mockup/EmptyContext.h"
#include "math/CTileTensor.h"
#include "math/DoubleTensor.h"
#include "math/EncryptedData.h"
#include "math/TTEncoder.h"
#include "math/TTShape.h"

using namespace quorvane;
using namespace qvtest;

namespace {

const std::vector<double> VALUES = {1.5, -2, 3.25, 0, 4, -5.5, 6, 7.75};

std::shared_ptr<HeContext> participant(int id)
{
  return mpContext(mpConfig(id, {1, 2, 3}, 1, 2));
}

} // namespace

TEST(ProtocolMessage, EmptyMessageSavesAsHeaderAndTwentyThreeBytes)
{
  auto he = participant(3);
  ProtocolMessage message(*he, PROTOCOL_DECRYPT, MP_KEY_OWNER, 2);
  message.getImpl()->setProtocolId(-77);
  const std::string expected = Bytes()
                                   .header("ProtocolMessage", he->getContextId())
                                   .i32(1)
                                   .i32(3)
                                   .i32(0)
                                   .i32(2)
                                   .b(false)
                                   .b(false)
                                   .b(false)
                                   .i32(-77)
                                   .data;
  EXPECT_EQ(saved(message), expected);
  EXPECT_EQ(expected.size(), headerBytes("ProtocolMessage", he->getContextId()).size() + 23);
  std::ostringstream out;
  EXPECT_EQ(message.save(out), static_cast<std::streamoff>(expected.size()));

  auto receiver = participant(1);
  ProtocolMessage loaded(*receiver);
  std::istringstream in(expected);
  EXPECT_EQ(loaded.load(in), static_cast<std::streamoff>(expected.size()));
  EXPECT_EQ(loaded.getProtocolType(), PROTOCOL_DECRYPT);
  EXPECT_EQ(loaded.getSourceParticipantId(), 3);
  EXPECT_EQ(loaded.getDestinationRole(), MP_KEY_OWNER);
  EXPECT_EQ(loaded.getToBeReceivedOnRound(), 2);
  EXPECT_EQ(loaded.getImpl()->getProtocolId(), -77);
  EXPECT_EQ(loaded.getImpl()->getCTile(), nullptr);
}

TEST(ProtocolMessage, TilePayloadRoundTripsAsItsOwnSavedObject)
{
  auto sender = participant(2);
  auto receiver = participant(1);
  ProtocolMessage message(*sender, PROTOCOL_INIT, MP_AGGREGATOR, 5);
  auto tile = std::make_shared<CTile>(encrypted(*sender, VALUES));
  message.getImpl()->setCTile(tile);
  message.getImpl()->setProtocolId(4242);
  const std::string expected = Bytes()
                                   .header("ProtocolMessage", sender->getContextId())
                                   .i32(0)
                                   .i32(2)
                                   .i32(2)
                                   .i32(5)
                                   .b(false)
                                   .b(false)
                                   .b(true)
                                   .raw(saved(*tile))
                                   .i32(4242)
                                   .data;
  const std::string bytes = saved(message);
  EXPECT_EQ(bytes, expected);

  ProtocolMessage loaded(*receiver);
  std::istringstream in(bytes);
  EXPECT_EQ(loaded.load(in), static_cast<std::streamoff>(bytes.size()));
  auto loadedTile = loaded.getImpl()->getCTile();
  ASSERT_NE(loadedTile, nullptr);
  EXPECT_NE(loadedTile, tile);
  EXPECT_EQ(&loadedTile->getHeContext(), receiver.get());
  EXPECT_EQ(maxError(decrypted(*loadedTile), VALUES), 0.0);
  EXPECT_EQ(loaded.getMetadataAsString(false), message.getMetadataAsString(false));
  EXPECT_EQ(loaded.getImpl()->getProtocolId(), 4242);
}

TEST(ProtocolMessage, TensorAndDataPayloadsRoundTripInTheirOrder)
{
  auto sender = participant(1);
  auto receiver = participant(3);
  DoubleTensor values({5, 2});
  for (int i = 0; i < values.size(); ++i)
    values.at(i) = i - 3.5;
  auto tensor = std::make_shared<CTileTensor>(*sender);
  TTEncoder(*sender).encodeEncrypt(*tensor, TTShape({4, 2}), values);
  EncryptedBatch batch(*sender);
  batch.addItem(std::make_shared<CTileTensor>(*tensor));
  auto data = std::make_shared<EncryptedData>(*sender);
  data->addBatch(batch);
  data->addBatch(batch);

  ProtocolMessage message(*sender, PROTOCOL_DECRYPT, MP_KEY_OWNER, 2);
  message.getImpl()->setEncryptedData(data);
  message.getImpl()->setCTileTensor(tensor);
  message.getImpl()->setProtocolId(31);
  const std::string expected = Bytes()
                                   .header("ProtocolMessage", sender->getContextId())
                                   .i32(1)
                                   .i32(1)
                                   .i32(0)
                                   .i32(2)
                                   .b(true)
                                   .raw(saved(*data))
                                   .b(true)
                                   .raw(saved(*tensor))
                                   .b(false)
                                   .i32(31)
                                   .data;
  const std::string bytes = saved(message);
  EXPECT_EQ(bytes, expected);

  ProtocolMessage loaded(*receiver);
  std::istringstream in(bytes);
  EXPECT_EQ(loaded.load(in), static_cast<std::streamoff>(bytes.size()));
  auto loadedData = loaded.getImpl()->getEncryptedData();
  auto loadedTensor = loaded.getImpl()->getCTileTensor();
  ASSERT_NE(loadedData, nullptr);
  ASSERT_NE(loadedTensor, nullptr);
  EXPECT_EQ(loaded.getImpl()->getCTile(), nullptr);
  EXPECT_EQ(loadedData->getNumBatches(), 2u);
  const DoubleTensor decoded = TTEncoder(*receiver).decryptDecodeDouble(*loadedTensor);
  const DoubleTensor fromData =
      TTEncoder(*receiver).decryptDecodeDouble(*loadedData->getBatch(1).getItem(0));
  for (int i = 0; i < values.size(); ++i) {
    EXPECT_EQ(decoded.at(i), values.at(i));
    EXPECT_EQ(fromData.at(i), values.at(i));
  }
  // A copy owns its payloads.
  ProtocolMessage copy(message);
  EXPECT_NE(copy.getImpl()->getCTileTensor(), tensor);
  EXPECT_NE(copy.getImpl()->getEncryptedData(), data);
}

TEST(ProtocolMessage, MetadataTexts)
{
  auto he = participant(3);
  ProtocolMessage message(*he, PROTOCOL_DECRYPT, MP_KEY_OWNER, 2);
  EXPECT_EQ(message.getMetadataAsString(true),
            "source_id_3_dest_role_KEY-OWNER_protocol_type_DECRYPT_for_round_2_");
  EXPECT_EQ(message.getMetadataAsString(false),
            metadataText(3, "KEY-OWNER", "DECRYPT", 2));
  message.getImpl()->setDestinationRole(static_cast<MultiPartyRole>(9));
  message.getImpl()->setProtocolType(static_cast<ProtocolType>(-1));
  message.getImpl()->setSourceParticipantId(-4);
  EXPECT_EQ(message.getMetadataAsString(true),
            "source_id_-4_dest_role_INVALID-ROLE-TYPE_protocol_type_INVALID-PROTOCOL-TYPE_"
            "for_round_2_");

  std::ostringstream out;
  message.debugPrint("m", VERBOSITY_REGULAR, out);
  EXPECT_EQ(out.str(), "ProtocolMessage m:" +
                           metadataText(-4, "INVALID-ROLE-TYPE", "INVALID-PROTOCOL-TYPE", 2) +
                           "\n");
  std::ostringstream none;
  message.debugPrint("m", VERBOSITY_NONE, none);
  EXPECT_EQ(none.str(), "");
}

TEST(ProtocolMessage, RoleAndTypeTexts)
{
  const std::vector<std::pair<int, std::string>> roles = {
      {0, "KEY-OWNER"},         {1, "INITIATOR"},
      {2, "AGGREGATOR"},        {3, "CIPHERTEXT-HOLDER"},
      {4, "PLAINTEXT-AGGREGATOR"}, {5, "INVALID-ROLE-TYPE"},
      {-1, "INVALID-ROLE-TYPE"}};
  for (const auto& [value, text] : roles)
    EXPECT_EQ(multiPartyRoleToString(static_cast<MultiPartyRole>(value)), text);
  EXPECT_EQ(protocolTypeToString(PROTOCOL_INIT), "INIT");
  EXPECT_EQ(protocolTypeToString(PROTOCOL_DECRYPT), "DECRYPT");
  EXPECT_EQ(protocolTypeToString(static_cast<ProtocolType>(2)), "INVALID-PROTOCOL-TYPE");
}

TEST(ProtocolMessage, CopiesAreDeepAndMovesTakeOver)
{
  auto he = participant(1);
  ProtocolMessage message(*he, PROTOCOL_DECRYPT, MP_KEY_OWNER, 2);
  message.getImpl()->setCTile(std::make_shared<CTile>(encrypted(*he, VALUES)));
  message.getImpl()->setProtocolId(5);

  ProtocolMessage copy(message);
  copy.getImpl()->setProtocolId(6);
  copy.getImpl()->getCTile()->negate();
  EXPECT_EQ(message.getImpl()->getProtocolId(), 5);
  EXPECT_EQ(maxError(decrypted(*message.getImpl()->getCTile()), VALUES), 0.0);

  ProtocolMessage assigned(*he);
  assigned = message;
  EXPECT_NE(assigned.getImpl(), message.getImpl());
  EXPECT_EQ(assigned.getImpl()->getProtocolId(), 5);

  const AbstractProtocolMessage* impl = message.getImpl().get();
  ProtocolMessage moved(std::move(message));
  EXPECT_EQ(moved.getImpl().get(), impl);
  expectThrowWithMessage<std::runtime_error>(
      [&] { message.getSourceParticipantId(); },
      "ProtocolMessage: the message was moved from and holds no content");
}

TEST(ProtocolMessage, LoadReplacesEveryPayloadAndARefusedLoadChangesNothing)
{
  auto sender = participant(2);
  auto receiver = participant(1);
  ProtocolMessage withTile(*sender, PROTOCOL_DECRYPT, MP_KEY_OWNER, 2);
  withTile.getImpl()->setCTile(std::make_shared<CTile>(encrypted(*sender, VALUES)));
  const std::string bare = saved(ProtocolMessage(*sender, PROTOCOL_INIT, MP_AGGREGATOR, 3));

  ProtocolMessage target(*receiver);
  std::istringstream first(saved(withTile));
  target.load(first);
  ASSERT_NE(target.getImpl()->getCTile(), nullptr);
  std::istringstream second(bare);
  target.load(second);
  EXPECT_EQ(target.getImpl()->getCTile(), nullptr);
  EXPECT_EQ(target.getProtocolType(), PROTOCOL_INIT);

  // Refused loads: unknown enumerations, a foreign context, a cut stream.
  const size_t body = headerBytes("ProtocolMessage", sender->getContextId()).size();
  std::string badType = bare;
  badType.replace(body, 4, le32(2));
  std::string badRole = bare;
  badRole.replace(body + 8, 4, le32(5));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {badType, "Invalid saved ProtocolMessage: protocol type is 2, expected a value in [0, 1]"},
      {badRole,
       "Invalid saved ProtocolMessage: destination role is 5, expected a value in [0, 4]"},
  };
  ProtocolMessage kept(*receiver);
  std::istringstream keptIn(saved(withTile));
  kept.load(keptIn);
  for (const auto& [bytes, error] : cases) {
    EXPECT_EQ(loadError(kept, bytes), error);
    EXPECT_EQ(kept.getProtocolType(), PROTOCOL_DECRYPT);
    EXPECT_NE(kept.getImpl()->getCTile(), nullptr);
  }
  std::string cut = saved(withTile);
  cut.resize(cut.size() - 2);
  EXPECT_NE(loadError(kept, cut), "<no exception>");
  EXPECT_EQ(kept.getImpl()->getProtocolId(), 0);
  EXPECT_NE(kept.getImpl()->getCTile(), nullptr);

  auto stranger = mpContext(mpConfig(1, {1, 4}, 1, 1));
  ProtocolMessage foreign(*stranger);
  std::istringstream foreignIn(bare);
  EXPECT_EQ(quietMessageOf<std::runtime_error>([&] { foreign.load(foreignIn); }),
            "loading failed due to mismatching contexts.");
}

TEST(ProtocolMessage, LoadsThroughTheLoaderRegistry)
{
  auto sender = participant(3);
  auto receiver = participant(2);
  ProtocolMessage message(*sender, PROTOCOL_DECRYPT, MP_PLAINTEXT_AGGREGATOR, 3);
  std::istringstream in(saved(message));
  auto loaded = std::dynamic_pointer_cast<ProtocolMessage>(Saveable::loadSaveable(*receiver, in));
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->getMetadataAsString(true), message.getMetadataAsString(true));
  EXPECT_EQ(&loaded->getImpl()->getHeContext(), receiver.get());
}

TEST(ProtocolMessage, ContextsWithoutMultiPartyUtilities)
{
  auto empty = std::make_shared<EmptyContext>();
  empty->init(HeConfigRequirement::insecure(8, 2));
  expectThrowWithMessage<std::runtime_error>([&] { ProtocolMessage m(*empty); },
                                             "This HeContext cannot provide MultiPartyUtils");
  auto plain = createMockup(8, 2);
  ProtocolMessage message(*plain);
  EXPECT_EQ(message.getImpl()->getProtocolId(), 0);
  expectThrowWithMessage<std::runtime_error>(
      [&] { ProtocolMessage m(*plain, PROTOCOL_INIT, MP_KEY_OWNER, 2); },
      "This HE context is not multi-party");
}

TEST(MockupProtocolMessage, CloneCopiesTilesAndPayloads)
{
  auto he = participant(1);
  MockupProtocolMessage message(*he);
  message.setTiles({encrypted(*he, VALUES), encrypted(*he, {1, 2})});
  message.setTiles(message.getTiles());
  message.setCTile(std::make_shared<CTile>(encrypted(*he, {9})));
  message.setProtocolId(12);
  auto clone = std::dynamic_pointer_cast<MockupProtocolMessage>(message.clone());
  ASSERT_NE(clone, nullptr);
  ASSERT_EQ(clone->getTiles().size(), 2u);
  EXPECT_NE(clone->getCTile(), message.getCTile());
  clone->getTiles()[0].negate();
  clone->getCTile()->negate();
  clone->setProtocolId(13);
  EXPECT_EQ(maxError(decrypted(message.getTiles()[0]), VALUES), 0.0);
  EXPECT_EQ(decrypted(*message.getCTile())[0], 9);
  EXPECT_EQ(message.getProtocolId(), 12);

  // The tiles live in memory only.
  ProtocolMessage holder(*he);
  std::ostringstream out;
  message.save(out);
  std::istringstream in(out.str());
  clone->load(in);
  EXPECT_TRUE(clone->getTiles().empty());
  EXPECT_EQ(clone->getProtocolId(), 12);
}
