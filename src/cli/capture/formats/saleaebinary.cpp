// saleae-binary: a logic analyzer's binary export, one digital_N.bin file per channel, read as
// signals: the frames of the clock and data channels (see signal/saleaebinary.h for the format,
// signal/burstdecoder.h for the frames). The input is the export's folder, or one of its files
// (the others are read from beside it). Recognised by the files' "<SALEAE>" header, or a
// folder holding digital_N.bin files.
#include "capture/inputformat.h"
#include "capture/signal/saleaebinary.h"
#include "capture/signal/signalreader.h"
#include "capture/textutil.h"

#include <filesystem>
#include <system_error>

namespace {

bool FolderHasExport(const std::filesystem::path& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = FileNameUtf8(entry.path());
        if (name.rfind("digital_", 0) == 0 && entry.path().extension() == ".bin") {
            return true;
        }
    }
    return false;
}

bool Recognise(const TDetectSample& sample, const TReaderOptions& options) {
    if (sample.Folder) {
        return FolderHasExport(PathFromUtf8(options.Path));
    }
    return LooksLikeSaleaeBinary(sample.Bytes);
}

std::unique_ptr<TCaptureReader> Open(std::unique_ptr<TByteSource>, const TReaderOptions& options, bool) {
    if (options.Path.empty() || options.Path == "-") {
        throw TInputError(0, "a binary export is one file per channel: give its folder or one of its files "
                             "instead of standard input");
    }
    std::filesystem::path path = PathFromUtf8(options.Path);
    std::error_code error;
    if (!std::filesystem::is_directory(path, error)) {
        path = path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
    }
    std::unique_ptr<TLogicSource> logic = OpenSaleaeBinaryExport({path});
    return std::make_unique<TSignalCaptureReader>("saleae-binary", nullptr, std::move(logic), options);
}

} // namespace

extern const TInputFormatModule SaleaeBinaryFormat{
    .Info = {"saleae-binary", "Logic 2 binary export: digital_N.bin files or their folder"},
    .Recognise = Recognise,
    .Open = Open,
    .ReadsFolders = true,
    .ReadsChannels = true};
