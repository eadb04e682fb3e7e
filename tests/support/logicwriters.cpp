// Writers of logic-analyzer captures for the tests; see logicwriters.h.
#include "logicwriters.h"

#include <zip.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>

namespace {

// Times are compared on a grid far finer than any capture's resolution.
constexpr double TimeEpsilon = 1e-13;

void AppendLittle(std::string& out, const void* value, std::size_t size) {
    // The test machines are little-endian, as the formats are.
    out.append(static_cast<const char*>(value), size);
}
template <typename T>
void Put(std::string& out, T value) {
    AppendLittle(out, &value, sizeof value);
}

// Every distinct toggle time of all channels, ascending.
std::vector<double> AllTimes(const TWaveform& waveform) {
    std::vector<double> times;
    for (const auto& toggles : waveform.Toggles) {
        times.insert(times.end(), toggles.begin(), toggles.end());
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end(),
                            [](double a, double b) { return std::fabs(a - b) < TimeEpsilon; }),
                times.end());
    return times;
}

std::string FormatSeconds(double time) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9f", time);
    return text;
}

} // namespace

std::uint8_t LevelAt(const TWaveform& waveform, std::size_t channel, double time) {
    const auto& toggles = waveform.Toggles[channel];
    const auto count = std::upper_bound(toggles.begin(), toggles.end(), time + TimeEpsilon) - toggles.begin();
    return static_cast<std::uint8_t>(waveform.Initial[channel] ^ (count & 1));
}

std::string WriteSaleaeDigitalCsv(const TWaveform& waveform) {
    std::string out = "Time [s]";
    for (const std::string& name : waveform.Names) {
        out += "," + name;
    }
    out += "\n";
    const auto row = [&](double time) {
        out += FormatSeconds(time);
        for (std::size_t c = 0; c < waveform.Names.size(); ++c) {
            out += LevelAt(waveform, c, time) != 0 ? ",1" : ",0";
        }
        out += "\n";
    };
    row(0.0);
    for (const double time : AllTimes(waveform)) {
        if (time > TimeEpsilon) {
            row(time);
        }
    }
    out += FormatSeconds(waveform.End);
    for (std::size_t c = 0; c < waveform.Names.size(); ++c) {
        out += ",X";
    }
    out += "\n";
    return out;
}

std::string WriteSaleaeBinary(const TWaveform& waveform, std::size_t channel, int version, std::size_t chunks) {
    std::string out = "<SALEAE>";
    Put<std::int32_t>(out, version);
    Put<std::int32_t>(out, 0);
    const auto& toggles = waveform.Toggles[channel];
    if (version == 0) {
        Put<std::uint32_t>(out, waveform.Initial[channel]);
        Put<double>(out, 0.0);
        Put<double>(out, waveform.End);
        Put<std::uint64_t>(out, toggles.size());
        for (const double time : toggles) {
            Put<double>(out, time);
        }
        return out;
    }
    chunks = std::max<std::size_t>(chunks, 1);
    Put<std::uint64_t>(out, chunks);
    for (std::size_t k = 0; k < chunks; ++k) {
        const double begin = waveform.End * static_cast<double>(k) / static_cast<double>(chunks);
        const double end = k + 1 == chunks ? waveform.End
                                           : waveform.End * static_cast<double>(k + 1) / static_cast<double>(chunks);
        // The chunk holds the toggles from its begin on, up to (and at the last, including) its end.
        std::vector<double> inside;
        for (const double time : toggles) {
            if (time >= begin && (time < end || (k + 1 == chunks && time <= end))) {
                inside.push_back(time);
            }
        }
        // The level after the toggles of the earlier chunks: the same rule (time < begin) that
        // put them there, so that a toggle a rounding error before `begin` is not counted on
        // one side and not the other (which would invert the channel for the whole chunk).
        const auto earlier = std::lower_bound(toggles.begin(), toggles.end(), begin) - toggles.begin();
        const std::uint8_t initial = static_cast<std::uint8_t>(waveform.Initial[channel] ^ (earlier & 1));
        Put<std::uint32_t>(out, initial);
        Put<double>(out, waveform.SampleRate);
        Put<double>(out, begin);
        Put<double>(out, end);
        Put<std::uint64_t>(out, inside.size());
        for (const double time : inside) {
            Put<double>(out, time);
        }
    }
    return out;
}

void WriteSaleaeBinaryFolder(const TWaveform& waveform, const std::filesystem::path& folder, int version,
                             std::size_t chunks) {
    std::filesystem::create_directories(folder);
    for (std::size_t c = 0; c < waveform.Names.size(); ++c) {
        std::ofstream file(folder / ("digital_" + std::to_string(c) + ".bin"), std::ios::binary);
        const std::string bytes = WriteSaleaeBinary(waveform, c, version, chunks);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
}

void WriteSigrokSession(const TWaveform& waveform, const std::filesystem::path& path, std::size_t unitSize,
                        std::size_t samplesPerMember) {
    if (waveform.SampleRate <= 0) {
        throw std::invalid_argument("a sigrok session needs a sample rate");
    }
    const auto samples = static_cast<std::uint64_t>(std::llround(waveform.End * waveform.SampleRate));
    std::string metadata = "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\n";
    metadata += "total probes=" + std::to_string(waveform.Names.size()) + "\n";
    char rate[64];
    std::snprintf(rate, sizeof rate, "%.0f", waveform.SampleRate);
    // The unit form for whole MHz, plain Hz otherwise: both occur.
    if (std::fmod(waveform.SampleRate, 1e6) == 0) {
        std::snprintf(rate, sizeof rate, "%.0f MHz", waveform.SampleRate / 1e6);
    }
    metadata += std::string("samplerate=") + rate + "\ntotal analog=0\n";
    for (std::size_t c = 0; c < waveform.Names.size(); ++c) {
        metadata += "probe" + std::to_string(c + 1) + "=" + waveform.Names[c] + "\n";
    }
    metadata += "unitsize=" + std::to_string(unitSize) + "\n";

    // The samples, each channel's level walked along its toggles.
    std::vector<std::string> members(1);
    std::vector<std::uint8_t> levels(waveform.Initial.begin(), waveform.Initial.end());
    std::vector<std::size_t> next(waveform.Names.size(), 0);
    for (std::uint64_t k = 0; k < samples; ++k) {
        const double time = static_cast<double>(k) / waveform.SampleRate;
        std::uint64_t sample = 0;
        for (std::size_t c = 0; c < waveform.Names.size(); ++c) {
            const auto& toggles = waveform.Toggles[c];
            while (next[c] < toggles.size() && toggles[next[c]] <= time + TimeEpsilon) {
                levels[c] ^= 1;
                ++next[c];
            }
            sample |= std::uint64_t{levels[c]} << c;
        }
        if (samplesPerMember != 0 && k != 0 && k % samplesPerMember == 0) {
            members.emplace_back();
        }
        AppendLittle(members.back(), &sample, unitSize);
    }

    std::filesystem::remove(path);
    int error = 0;
    zip_t* archive = zip_open(path.string().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) {
        throw std::runtime_error("cannot create " + path.string());
    }
    // zip_source_buffer keeps pointers: the texts live until zip_close.
    const std::string version = "2";
    std::vector<std::pair<std::string, const std::string*>> entries = {{"version", &version},
                                                                       {"metadata", &metadata}};
    for (std::size_t m = 0; m < members.size(); ++m) {
        entries.emplace_back("logic-1-" + std::to_string(m + 1), &members[m]);
    }
    for (const auto& [name, text] : entries) {
        zip_source_t* source = zip_source_buffer(archive, text->data(), text->size(), 0);
        const zip_int64_t index =
            source == nullptr ? -1 : zip_file_add(archive, name.c_str(), source, ZIP_FL_OVERWRITE);
        // A fixed modification time (2024-01-01), so that the same waveform gives the same bytes.
        if (index < 0 || zip_file_set_mtime(archive, static_cast<zip_uint64_t>(index), 1704067200, 0) != 0) {
            if (index < 0) {
                zip_source_free(source);
            }
            zip_discard(archive);
            throw std::runtime_error("cannot add " + name + " to " + path.string());
        }
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string WriteVcd(const TWaveform& waveform) {
    std::vector<double> times = AllTimes(waveform);
    times.push_back(waveform.End);
    // The coarsest unit in which every time is whole.
    static const std::pair<const char*, double> scales[] = {
        {"1 s", 1.0},     {"100 ms", 1e-1},  {"10 ms", 1e-2},  {"1 ms", 1e-3},   {"100 us", 1e-4}, {"10 us", 1e-5},
        {"1 us", 1e-6},   {"100 ns", 1e-7},  {"10 ns", 1e-8},  {"1 ns", 1e-9},   {"100 ps", 1e-10}, {"10 ps", 1e-11},
        {"1 ps", 1e-12},  {"100 fs", 1e-13}, {"10 fs", 1e-14}, {"1 fs", 1e-15}};
    const char* scaleName = "1 fs";
    double scale = 1e-15;
    for (const auto& [name, seconds] : scales) {
        const bool whole = std::all_of(times.begin(), times.end(), [&](double t) {
            const double units = t / seconds;
            return std::fabs(units - std::round(units)) < 1e-6;
        });
        if (whole) {
            scaleName = name;
            scale = seconds;
            break;
        }
    }
    const auto id = [](std::size_t c) { return std::string(1, static_cast<char>('!' + c)); };
    std::string out = "$version corvane tests $end\n$timescale " + std::string(scaleName) + " $end\n";
    out += "$scope module capture $end\n";
    for (std::size_t c = 0; c < waveform.Names.size(); ++c) {
        out += "$var wire 1 " + id(c) + " " + waveform.Names[c] + " $end\n";
    }
    out += "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
    for (std::size_t c = 0; c < waveform.Names.size(); ++c) {
        out += std::to_string(LevelAt(waveform, c, 0.0)) + id(c) + "\n";
    }
    out += "$end\n";
    std::vector<std::uint8_t> levels;
    for (std::size_t c = 0; c < waveform.Names.size(); ++c) {
        levels.push_back(LevelAt(waveform, c, 0.0));
    }
    for (const double time : times) {
        if (time <= TimeEpsilon) {
            continue;
        }
        std::string line = "#" + std::to_string(std::llround(time / scale));
        for (std::size_t c = 0; c < waveform.Names.size(); ++c) {
            const std::uint8_t level = LevelAt(waveform, c, time);
            if (level != levels[c]) {
                levels[c] = level;
                line += " " + std::to_string(level) + id(c);
            }
        }
        out += line + "\n";
    }
    return out;
}
