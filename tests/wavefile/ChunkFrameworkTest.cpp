#include "wavefile/Chunk.h"

#include <gtest/gtest.h>

#include "tests/wavefile/WaveFixtures.h"
#include "wavefile/ChunkStream.h"

namespace korvo::test {
namespace {

using KorvoLib::ByteOrder;
using KorvoLib::CChunk;
using KorvoLib::CChunkStream;
using KorvoLib::CContainerChunk;
using Access = CChunkStream::Access;

// A chunk kind whose body is a run of bytes of a length it learns from its header.
class BytesChunk : public CChunk {
public:
    explicit BytesChunk(std::string_view id, Bytes body = {}) : CChunk(id), body(std::move(body)) {}
    bool readBody(CChunkStream& stream) override {
        body.resize(static_cast<std::size_t>(header_.size));
        return stream.readBytes(body.data(), body.size());
    }
    bool writeBody(CChunkStream& stream) override {
        return stream.writeBytes(body.data(), body.size());
    }
    Bytes body;
};

class TestContainer : public CContainerChunk {
public:
    TestContainer() : CContainerChunk("LIST", "test") {}
    std::unique_ptr<CChunk> createChild(const std::string& id) override {
        if (id == "odd " || id == "even") {
            return std::make_unique<BytesChunk>(id);
        }
        return nullptr;
    }
};

class ChunkFramework : public ::testing::Test {
protected:
    ScratchFolder folder{"chunks"};
    std::string path = folder.file("chunks.bin");
};

TEST_F(ChunkFramework, OddSizedChunkIsPaddedOnWriteAndSkippedWithItsPadOnRead) {
    {
        CChunkStream stream(ByteOrder::kBig);
        ASSERT_TRUE(stream.open(path, Access::kCreate));
        TestContainer list;
        list.append(std::make_unique<BytesChunk>("odd ", Bytes{1, 2, 3}));
        list.append(std::make_unique<BytesChunk>("even", Bytes{4, 5}));
        ASSERT_TRUE(list.write(stream));
        ASSERT_TRUE(stream.close());
    }
    ByteWriter expected{true, {}};
    expected.text("LIST").u32(4 + 12 + 10).text("test");
    expected.text("odd ").u32(3).raw({1, 2, 3, 0}).text("even").u32(2).raw({4, 5});
    EXPECT_EQ(loadBytes(path), expected.bytes);

    CChunkStream stream(ByteOrder::kBig);
    ASSERT_TRUE(stream.open(path, Access::kRead));
    TestContainer list;
    ASSERT_TRUE(list.read(stream));
    ASSERT_EQ(list.children().size(), 2u);
    const auto& second = static_cast<const BytesChunk&>(*list.children().back());
    EXPECT_EQ(second.identifier(), "even");
    EXPECT_EQ(second.body, (Bytes{4, 5}));
    EXPECT_EQ(list.children().front()->header().size, 3);
}

TEST_F(ChunkFramework, ContainerReadFailsOnAChildWithoutAKind) {
    saveBytes(path, container(false, "LIST", "test",
                              {chunk(false, "even", Bytes{1, 2}), chunk(false, "what", Bytes{3, 4})}));
    CChunkStream stream(ByteOrder::kLittle);
    ASSERT_TRUE(stream.open(path, Access::kRead));
    TestContainer list;
    EXPECT_FALSE(list.read(stream));
    EXPECT_FALSE(list.readBody(stream));  // a container is read only as a whole
}

TEST_F(ChunkFramework, RejectedHeaderLeavesTheChunkAsItWas) {
    BytesChunk target("even");
    const auto tryRead = [&](const Bytes& bytes) {
        saveBytes(path, bytes);
        CChunkStream stream(ByteOrder::kLittle);
        return stream.open(path, Access::kRead) && target.read(stream);
    };
    ASSERT_TRUE(tryRead(chunk(false, "even", Bytes{9, 9})));
    EXPECT_FALSE(tryRead(chunk(false, "even", Bytes{1, 2}, 0xFFFFFFFEu)));        // negative size
    EXPECT_FALSE(tryRead(chunk(false, "EVEN", Bytes{1, 2})));            // case matters
    EXPECT_FALSE(tryRead(chunk(false, "even", Bytes{1, 2}, 100)));       // past the end
    EXPECT_FALSE(tryRead(Bytes{'e', 'v', 'e', 'n', 2, 0}));              // cut short
    EXPECT_EQ(target.header().size, 2);
    EXPECT_EQ(target.header().dataPosition, 8);
    EXPECT_EQ(target.identifier(), "even");
    EXPECT_EQ(target.body, (Bytes{9, 9}));
}

TEST_F(ChunkFramework, NulInsideAnIdentifierEndsIt) {
    saveBytes(path, Bytes{'a', 'b', 0, 'x', 2, 0, 0, 0, 7, 7});
    CChunkStream stream(ByteOrder::kLittle);
    ASSERT_TRUE(stream.open(path, Access::kRead));
    BytesChunk ab("ab");
    ASSERT_TRUE(ab.read(stream));
    EXPECT_EQ(ab.identifier(), "ab");
    EXPECT_EQ(ab.body, (Bytes{7, 7}));
}

TEST_F(ChunkFramework, ChildIteratorStopsAtBodyEndAndFailsOnAChildPastIt) {
    // The container's body ends after the first child; the second lies outside it.
    Bytes bytes = container(false, "LIST", "test", {chunk(false, "even", Bytes{1, 2})});
    const Bytes outside = chunk(false, "even", Bytes{3, 4});
    bytes.insert(bytes.end(), outside.begin(), outside.end());
    saveBytes(path, bytes);
    CChunkStream stream(ByteOrder::kLittle);
    ASSERT_TRUE(stream.open(path, Access::kRead));
    TestContainer list;
    ASSERT_TRUE(list.readHead(stream));
    CContainerChunk::CChildIterator children(stream, list);
    ASSERT_TRUE(children.next());
    EXPECT_EQ(children.headerPosition(), 12);
    EXPECT_FALSE(children.next());
    EXPECT_FALSE(children.failed());

    saveBytes(path, container(false, "LIST", "test", {chunk(false, "even", Bytes{1, 2}, 40)}));
    ASSERT_TRUE(stream.open(path, Access::kRead));
    ASSERT_TRUE(list.readHead(stream));
    CContainerChunk::CChildIterator broken(stream, list);
    EXPECT_FALSE(broken.next());
    EXPECT_TRUE(broken.failed());
}

TEST_F(ChunkFramework, StreamConvertsValuesInItsByteOrder) {
    for (ByteOrder order : {ByteOrder::kLittle, ByteOrder::kBig}) {
        const bool big = order == ByteOrder::kBig;
        const std::uint8_t extended[10] = {0x40, 0x0E, 0xAC, 0x44, 1, 2, 3, 4, 5, 6};
        {
            CChunkStream stream(order);
            ASSERT_TRUE(stream.open(path, Access::kCreate));
            ASSERT_TRUE(stream.write16(std::uint16_t{0x1234}) && stream.write32(0x89ABCDEFu) &&
                        stream.writeLong(extended, 10) && stream.writeBytes("ab", 2));
            const std::int16_t samples[2] = {-2, 0x0102};
            ASSERT_TRUE(stream.writeSamples(samples, 2));
            ASSERT_TRUE(stream.close());
        }
        ByteWriter expected{big, {}};
        expected.u16(0x1234).u32(0x89ABCDEF);
        Bytes long10(extended, extended + 10);
        if (!big) {
            std::reverse(long10.begin(), long10.end());
        }
        expected.raw(long10).text("ab").u16(0xFFFE).u16(0x0102);
        EXPECT_EQ(loadBytes(path), expected.bytes);

        CChunkStream stream(order);
        ASSERT_TRUE(stream.open(path, Access::kRead));
        std::int16_t first = 0;
        std::int32_t second = 0;
        std::uint8_t back[10];
        ASSERT_TRUE(stream.read16(first) && stream.read32(second) && stream.readLong(back, 10));
        EXPECT_EQ(first, 0x1234);
        EXPECT_EQ(static_cast<std::uint32_t>(second), 0x89ABCDEFu);
        EXPECT_EQ(Bytes(back, back + 10), Bytes(extended, extended + 10));
    }
}

TEST_F(ChunkFramework, StreamErrorStaysUntilCleared) {
    saveBytes(path, Bytes{1, 2, 3});
    CChunkStream stream(ByteOrder::kLittle);
    ASSERT_TRUE(stream.open(path, Access::kRead));
    std::uint32_t value = 0;
    EXPECT_FALSE(stream.read32(value));
    EXPECT_TRUE(stream.failed());
    EXPECT_EQ(stream.tell(), -1);
    EXPECT_FALSE(stream.seek(0));
    stream.clearError();
    ASSERT_TRUE(stream.seek(1));
    std::uint16_t two = 0;
    EXPECT_TRUE(stream.read16(two));
    EXPECT_EQ(two, 0x0302);
    EXPECT_FALSE(stream.seek(-1));
    stream.clearError();
    EXPECT_FALSE(stream.writeBytes("x", 1));  // read only
    EXPECT_EQ(loadBytes(path), (Bytes{1, 2, 3}));

    CChunkStream writer(ByteOrder::kLittle);
    ASSERT_TRUE(writer.open(folder.file("new"), Access::kCreate));
    EXPECT_FALSE(writer.read16(two));  // write only
}

TEST_F(ChunkFramework, UpdateStreamReadsWhatItWroteAcrossBufferBoundaries) {
    // Writes and reads that straddle the stream's buffer at odd positions, interleaved.
    const std::size_t samples = CChunkStream::kBufferSize;  // two buffers' worth of bytes
    const auto data = testSamples(samples, 5);
    saveBytes(path, Bytes(3, 0xEE));
    CChunkStream stream(ByteOrder::kBig);
    ASSERT_TRUE(stream.open(path, Access::kUpdate));
    ASSERT_TRUE(stream.seek(1));
    ASSERT_TRUE(stream.writeSamples(data.data(), samples));
    EXPECT_EQ(stream.length(), static_cast<std::int64_t>(1 + 2 * samples));

    std::vector<std::int16_t> back(samples);
    ASSERT_TRUE(stream.seek(1));
    ASSERT_TRUE(stream.readSamples(back.data(), samples));
    EXPECT_EQ(back, data);

    // Overwrite one sample in the middle of what is now buffered for reading, then read again.
    const std::int16_t changed = 0x7A7B;
    ASSERT_TRUE(stream.seek(1 + 2 * 40000));
    ASSERT_TRUE(stream.writeSamples(&changed, 1));
    std::int16_t got = 0;
    ASSERT_TRUE(stream.seek(1 + 2 * 40000));
    ASSERT_TRUE(stream.read16(got));
    EXPECT_EQ(got, changed);
    ASSERT_TRUE(stream.close());

    const Bytes bytes = loadBytes(path);
    ASSERT_EQ(bytes.size(), 1 + 2 * samples);
    EXPECT_EQ(bytes[0], 0xEE);
    auto expected = data;
    expected[40000] = changed;
    EXPECT_EQ(Bytes(bytes.begin() + 1, bytes.end()), bigSamples(expected));
}

}  // namespace
}  // namespace korvo::test
