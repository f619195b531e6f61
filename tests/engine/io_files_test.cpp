// The byte reader, the buffered writer, the keyboard queue and the I/O
// error table.
#include "io_test_support.h"

#include "core/errors.h"
#include "io/buffered_writer.h"
#include "io/byte_reader.h"
#include "io/keyboard_queue.h"

namespace tarvex::test {
namespace {

std::string read_all(const std::string& path, ByteReader& r) {
    FilePtr f = file_open(path, "rb");
    EXPECT_TRUE(f);
    byte_reader_start(r, f.get());
    std::string got;
    for (int c; (c = byte_reader_next(r)) != BYTE_END;)
        got.push_back(static_cast<char>(c));
    return got;
}

// The line-end rule written out: every LF not preceded by a CR gains one.
std::string with_cr(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r')) out.push_back('\r');
        out.push_back(s[i]);
    }
    return out;
}

using IoFiles = IoTest;

TEST_F(IoFiles, ReaderAddsCrBeforeLoneLfAcrossBlockBoundaries) {
    TempDir dir;
    const std::string cases[] = {
        "\nstarts with a line end",
        "lone\rcr\r\rstays\r",
        std::string(IO_BLOCK_SIZE - 1, 'a') + "\r\nb", // CR ends block 1, LF opens block 2
        std::string(IO_BLOCK_SIZE, 'a') + "\nb",       // lone LF opens block 2
        std::string(IO_BLOCK_SIZE - 1, 'a') + "\n\n",  // lone LF at the end of block 1
        std::string(2 * IO_BLOCK_SIZE, '\n'),
        "",
    };
    for (const std::string& bytes : cases) {
        put_file(dir.file("in"), bytes);
        ByteReader r;
        EXPECT_EQ(read_all(dir.file("in"), r), with_cr(bytes)) << "length " << bytes.size();
        EXPECT_EQ(r.error, 0);
        EXPECT_EQ(byte_reader_next(r), BYTE_END); // stays at the end
    }
    EXPECT_TRUE(ui.flashes.empty());
}

TEST_F(IoFiles, ReadErrorIsReportedOnceAndEndsTheFile) {
    TempDir dir;
    ByteReader r;
    // A folder opens for reading but every read fails.
    EXPECT_EQ(read_all(dir.path().string(), r), "");
    EXPECT_EQ(r.error, SE_READ_WEB);
    EXPECT_EQ(byte_reader_next(r), BYTE_END);
    EXPECT_EQ(ui.flashes, std::vector<std::string>{"UNABLE TO READ FROM WEB FILE"});
}

TEST_F(IoFiles, WriterWritesWholeBlocksAndTheRest) {
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 3 * IO_BLOCK_SIZE + 17; ++i)
        bytes.push_back(static_cast<char>(i * 7));
    {
        FilePtr f = file_open(dir.file("out.bin"), "wb");
        ASSERT_TRUE(f);
        BufferedWriter w;
        writer_start(w, f.get());
        EXPECT_EQ(writer_write(w, bytes.substr(0, 100)), 0);
        for (size_t i = 100; i < bytes.size(); ++i)
            EXPECT_EQ(writer_put(w, static_cast<uint8_t>(bytes[i])), 0);
        EXPECT_EQ(file_bytes(dir.file("out.bin")).size(), 3u * IO_BLOCK_SIZE); // the rest waits
        EXPECT_EQ(writer_flush(w), 0);
        EXPECT_TRUE(file_close(f));
    }
    EXPECT_EQ(file_bytes(dir.file("out.bin")), bytes);
}

TEST_F(IoFiles, KeyboardQueueKeepsTheLast48) {
    keyboard_clear();
    EXPECT_EQ(keyboard_pop(), -1);
    for (int i = 0; i < KEYBOARD_QUEUE_SIZE + 2; ++i)
        keyboard_push(static_cast<uint8_t>(1 + i));
    keyboard_push(0); // ignored
    EXPECT_EQ(keyboard_count(), KEYBOARD_QUEUE_SIZE);
    for (int i = 2; i < KEYBOARD_QUEUE_SIZE + 2; ++i)
        EXPECT_EQ(keyboard_pop(), 1 + i);
    EXPECT_EQ(keyboard_pop(), -1);
    // Wrapping without filling up.
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 30; ++i)
            keyboard_push(static_cast<uint8_t>('a' + i % 26));
        EXPECT_EQ(keyboard_count(), 30);
        for (int i = 0; i < 30; ++i)
            EXPECT_EQ(keyboard_pop(), 'a' + i % 26);
    }
}

TEST_F(IoFiles, ErrorTableAndStatusTexts) {
    EXPECT_STREQ(io_error_text(0), "NONESUCH");
    EXPECT_STREQ(io_error_text(-9), "UNABLE TO WRITE TO OUPUT FILE");
    EXPECT_STREQ(io_error_text(-19), "PRINTING CANCELED");
    EXPECT_STREQ(io_error_text(-20), "INTERNAL ERROR");
    EXPECT_STREQ(io_error_text(-22), "Unexpected Error!");
    EXPECT_STREQ(io_error_text(3), "Unexpected Error!");
    EXPECT_EQ(status_error(0), 0);
    EXPECT_TRUE(ui.flashes.empty());
    EXPECT_EQ(status_error(-13), -13);
    EXPECT_EQ(status_error(-157), -157);
    EXPECT_EQ(ui.flashes, (std::vector<std::string>{"OUTPUT IN USE", "Unexpected Error!"}));

    // The report's column differs in wording and has no text for the status
    // line's own codes; codes outside both columns have none.
    EXPECT_STREQ(script_error_message(SE_PRINTING_CANCELLED), "Printing cancelled");
    EXPECT_STREQ(script_error_message(SE_READ_INPUT), "Unable to read input file");
    EXPECT_STREQ(io_error_text(SE_READ_INPUT), "UNABLE TO READ FROM INPUT FILE");
    EXPECT_STREQ(script_error_message(SE_OK), "");
    EXPECT_STREQ(script_error_message(SE_INTERNAL_IO), "");
    EXPECT_STREQ(script_error_message(-106), "");
    EXPECT_STREQ(script_error_message(SE_EXPECTED_LPAREN), "Expected '(' ");
    EXPECT_STREQ(io_error_text(SE_OUT_OF_MEMORY), "OUT OF MEMORY");
    EXPECT_STREQ(io_error_text(SE_BAD_IDENTIFIER), "Unexpected Error!");

    // Status texts are cut to 127 bytes.
    ui.flashes.clear();
    std::string exact(127, 'a'), longer = exact + "bcd";
    status_flash(exact.c_str());
    status_flash(longer.c_str());
    status_show(longer.c_str());
    EXPECT_EQ(ui.flashes, (std::vector<std::string>{exact, exact}));
    EXPECT_EQ(ui.persistent_status, exact);
}

} // namespace
} // namespace tarvex::test
