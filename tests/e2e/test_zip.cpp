// corvane::zip as built for this system (libzip on zlib; on Windows both static): archives
// written and read back through the library, entries stored and deflated, names in UTF-8,
// archive paths outside the ANSI code page, and damaged archives refused rather than read.
#include <zip.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// libzip takes paths as UTF-8 on every system (on Windows it opens them with the wide API).
std::string Utf8Path(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string ReadWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct TZipCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using TZipHandle = std::unique_ptr<zip_t, TZipCloser>;

struct TEntry {
    std::string FName;
    std::string FBytes;
    zip_int32_t FMethod;
};

// Sample logic data as a capture holds it: long runs of a few byte values, which deflate
// shrinks a lot, and a byte now and then from a simple generator.
std::string LogicSamples(std::size_t size) {
    std::string out;
    out.reserve(size);
    std::uint32_t state = 12345;
    while (out.size() < size) {
        state = state * 1103515245U + 12345U;
        out.append(1 + (state >> 24) % 64, static_cast<char>((state >> 16) & 0x03));
    }
    out.resize(size);
    return out;
}

std::string EveryByte() {
    std::string out;
    for (int i = 0; i < 256; ++i) {
        out.push_back(static_cast<char>(i));
    }
    return out;
}

std::vector<TEntry> SessionEntries() {
    return {
        {"version", "2", ZIP_CM_STORE},
        {"metadata", "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\n"
                     "total probes=2\nsamplerate=1 MHz\nprobe1=MA\nprobe2=SLO\nunitsize=1\n",
         ZIP_CM_DEFLATE},
        {"logic-1-1", LogicSamples(1 << 20), ZIP_CM_DEFLATE},
        {"every-byte", EveryByte(), ZIP_CM_STORE},
        {"Ωμέγα/測定 €.bin", EveryByte() + EveryByte(), ZIP_CM_DEFLATE},
        {"empty", "", ZIP_CM_DEFLATE},
    };
}

// Writes the entries into a new archive at `path`; an empty text, or libzip's message.
std::string WriteArchive(const fs::path& path, const std::vector<TEntry>& entries) {
    int code = 0;
    zip_t* archive = zip_open(Utf8Path(path).c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (archive == nullptr) {
        return "zip_open for writing failed with code " + std::to_string(code);
    }
    for (const TEntry& entry : entries) {
        // The buffers live in `entries` until zip_close has written them.
        zip_source_t* source = zip_source_buffer(archive, entry.FBytes.data(), entry.FBytes.size(), 0);
        const zip_int64_t index =
            source == nullptr ? -1 : zip_file_add(archive, entry.FName.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            std::string error = zip_strerror(archive);
            zip_discard(archive);
            return "adding " + entry.FName + ": " + error;
        }
        if (zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), entry.FMethod, 0) != 0) {
            std::string error = zip_strerror(archive);
            zip_discard(archive);
            return "compression of " + entry.FName + ": " + error;
        }
    }
    if (zip_close(archive) != 0) {
        std::string error = zip_strerror(archive);
        zip_discard(archive);
        return "zip_close: " + error;
    }
    return {};
}

// Reads an entry whole; false, with libzip's message in `error`, when the library reports a
// fault on the way (a bad CRC, damaged compressed data).
bool ReadEntry(zip_t* archive, zip_uint64_t index, std::string& bytes, std::string& error) {
    bytes.clear();
    zip_file_t* file = zip_fopen_index(archive, index, 0);
    if (file == nullptr) {
        error = zip_strerror(archive);
        return false;
    }
    char buffer[4096];
    for (;;) {
        const zip_int64_t got = zip_fread(file, buffer, sizeof buffer);
        if (got < 0) {
            error = zip_file_strerror(file);
            zip_fclose(file);
            return false;
        }
        if (got == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    const int closed = zip_fclose(file);
    if (closed != 0) {
        error = "zip_fclose failed with code " + std::to_string(closed);
        return false;
    }
    return true;
}

class ZipArchive : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        FDir = fs::temp_directory_path() / (std::string("corvane-zip-") + info->name());
        fs::remove_all(FDir);
        fs::create_directories(FDir);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(FDir, ignored);
    }

    // A written session archive in FDir under `name` (UTF-8).
    fs::path WrittenArchive(const std::u8string& name) {
        const fs::path path = FDir / fs::path(name);
        const std::string error = WriteArchive(path, FEntries);
        EXPECT_EQ(error, "");
        return path;
    }

    fs::path FDir;
    const std::vector<TEntry> FEntries = SessionEntries();
};

TEST_F(ZipArchive, WrittenEntriesReadBackByteForByte) {
    for (const std::u8string name : {u8"session.sr", u8"Ωμέγα 測定 €.sr"}) {
        SCOPED_TRACE(Utf8Path(fs::path(name)));
        const fs::path path = WrittenArchive(name);
        ASSERT_TRUE(fs::is_regular_file(path)) << "no archive at the UTF-8 path";

        int code = 0;
        TZipHandle archive(zip_open(Utf8Path(path).c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
        ASSERT_NE(archive, nullptr) << "zip_open failed with code " << code;
        ASSERT_EQ(zip_get_num_entries(archive.get(), 0), static_cast<zip_int64_t>(FEntries.size()));

        for (const TEntry& entry : FEntries) {
            SCOPED_TRACE(entry.FName);
            const zip_int64_t index = zip_name_locate(archive.get(), entry.FName.c_str(), ZIP_FL_ENC_UTF_8);
            ASSERT_GE(index, 0) << "entry not found by its UTF-8 name";
            zip_stat_t stat;
            ASSERT_EQ(zip_stat_index(archive.get(), static_cast<zip_uint64_t>(index), 0, &stat), 0);
            EXPECT_EQ(stat.size, entry.FBytes.size());
            EXPECT_EQ(stat.comp_method, entry.FMethod);
            std::string bytes;
            std::string error;
            ASSERT_TRUE(ReadEntry(archive.get(), static_cast<zip_uint64_t>(index), bytes, error)) << error;
            EXPECT_TRUE(bytes == entry.FBytes) << "contents differ: " << bytes.size() << " bytes read";
        }
        EXPECT_EQ(zip_name_locate(archive.get(), "logic-1-2", 0), -1);
    }
}

// Deflate must have worked through zlib rather than fallen back to storing.
TEST_F(ZipArchive, LogicSamplesAreCompressed) {
    const fs::path path = WrittenArchive(u8"session.sr");
    int code = 0;
    TZipHandle archive(zip_open(Utf8Path(path).c_str(), ZIP_RDONLY, &code));
    ASSERT_NE(archive, nullptr) << "zip_open failed with code " << code;
    zip_stat_t stat;
    ASSERT_EQ(zip_stat(archive.get(), "logic-1-1", 0, &stat), 0);
    EXPECT_LT(stat.comp_size * 4, stat.size) << "1 MiB of runs deflated to " << stat.comp_size << " bytes";
    EXPECT_LT(fs::file_size(path), std::uintmax_t{1} << 18);
}

struct TDamage {
    const char* FWhat;
    int FExpectedCode; // zip_open's error code, 0 where the archive opens and an entry fails
    std::string (*FApply)(const std::string& archive);
};

// Damaged archives: refused by zip_open with the reason, or, where the damage is inside
// compressed data, opened and the entry's read failing instead of giving wrong bytes.
TEST_F(ZipArchive, DamagedArchivesAreRefused) {
    const fs::path good = WrittenArchive(u8"session.sr");
    const std::string bytes = ReadWholeFile(good);
    ASSERT_GT(bytes.size(), 1000U);

    const TDamage cases[] = {
        {"not a zip archive (text)", ZIP_ER_NOZIP,
         [](const std::string&) { return std::string("C004C9BA71753000\n"); }},
        {"empty file", ZIP_ER_NOZIP, [](const std::string&) { return std::string(); }},
        {"cut before the end of the central directory", ZIP_ER_NOZIP,
         [](const std::string& a) { return a.substr(0, a.size() - 30); }},
        {"cut in half", ZIP_ER_NOZIP, [](const std::string& a) { return a.substr(0, a.size() / 2); }},
        {"compressed sample data overwritten", 0,
         [](const std::string& a) {
             // The middle of the archive lies in the deflated logic-1-1.
             std::string out = a;
             for (std::size_t i = out.size() / 2; i < out.size() / 2 + 64; ++i) {
                 out[i] = static_cast<char>(~out[i]);
             }
             return out;
         }},
    };
    for (const TDamage& damage : cases) {
        SCOPED_TRACE(damage.FWhat);
        const fs::path path = FDir / "damaged.sr";
        WriteWholeFile(path, damage.FApply(bytes));
        int code = 0;
        TZipHandle archive(zip_open(Utf8Path(path).c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
        if (damage.FExpectedCode != 0) {
            EXPECT_EQ(archive, nullptr);
            EXPECT_EQ(code, damage.FExpectedCode);
            continue;
        }
        ASSERT_NE(archive, nullptr) << "zip_open failed with code " << code;
        const zip_int64_t index = zip_name_locate(archive.get(), "logic-1-1", 0);
        ASSERT_GE(index, 0);
        std::string read;
        std::string error;
        EXPECT_FALSE(ReadEntry(archive.get(), static_cast<zip_uint64_t>(index), read, error))
            << "damaged data read as " << read.size() << " bytes without an error";
    }
}

TEST_F(ZipArchive, MissingArchiveIsReportedAsSuch) {
    int code = 0;
    TZipHandle archive(zip_open(Utf8Path(FDir / "missing.sr").c_str(), ZIP_RDONLY, &code));
    EXPECT_EQ(archive, nullptr);
    EXPECT_EQ(code, ZIP_ER_NOENT);
}

} // namespace
