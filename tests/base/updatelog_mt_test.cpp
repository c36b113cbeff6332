#include <thread>

#include <gtest/gtest.h>

#include "base/UpdateLogFile.h"
#include "support/LogCapture.h"

TEST(UpdateLogThreads, ConcurrentEntriesStayWhole) {
    TempDir temp;
    std::string path;
    const std::string a(300, 'a');
    const std::string b(300, 'b');
    {
        CUpdateLogFile log(temp.Path());
        auto writer = [&](const std::string& text) {
            for (int i = 0; i < 200; ++i) log.LogMessage("CWriter", text, "Run", false);
        };
        std::thread t1(writer, a);
        std::thread t2(writer, b);
        t1.join();
        t2.join();
        path = log.GetFilePath();
    }
    const std::string text = ReadLogText(path);
    // Every entry is a header line followed by one whole body line.
    size_t pos = 0, entries = 0;
    while (pos < text.size()) {
        const size_t headerEnd = text.find("\r\n", pos);
        ASSERT_NE(headerEnd, std::string::npos);
        ASSERT_NE(text.find("Msg - CWriter::Run", pos), std::string::npos);
        const size_t bodyEnd = text.find("\r\n", headerEnd + 2);
        const std::string body = text.substr(headerEnd + 2, bodyEnd - headerEnd - 2);
        ASSERT_TRUE(body == a || body == b) << body.substr(0, 20);
        pos = bodyEnd + 2;
        ++entries;
    }
    EXPECT_EQ(entries, 400u);
}
