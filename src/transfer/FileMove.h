// Taking over a transferred file: the link package's file into the receive folder, or the
// prepared send file out to the link package. A file is deleted only after its copy is whole.
#pragma once

#include <cstdint>
#include <string>

#include "startup/WorkArea.h"

namespace edi {

struct FileMoveRequest {
    std::string CenterCode;
    double Serial = 0;      // the job serial
    std::string Direction;  // "S"/"Ｓ"/"s"/"ｓ" send, "R"/"Ｒ"/"r"/"ｒ" receive
    std::string DataKind;   // the raw 送受信データ形式
    std::string LinkPath;   // the link package's file
    std::string Result;     // ResultCode, filled by MoveTransferFile
};

// Copies source to destination, replacing it: the bytes go to a hidden file beside the
// destination, which is renamed over it only once the copy is complete and flushed. With flush
// false the bytes are only written out to the disk (no flush of its cache): the caller then
// flushes the destination's folder once for several copies (FlushFolder). On any failure the
// hidden file is removed and the destination is as it was. False with a reason.
bool CopyFileWhole(const std::string& source, const std::string& destination, std::string& reason,
                   bool flush = true);

// An archive copy of source at destination, replacing a file of that name. Within one file
// system it is a second name for the same bytes (a hard link: nothing is written twice, and the
// bytes are as durable as the source's own); across file systems, or where the link is refused,
// CopyFileWhole without a flush of its own. The caller flushes the destination's folder once for
// several (FlushFolder). False with a reason.
bool ArchiveFile(const std::string& source, const std::string& destination, std::string& reason);

// Makes the file's bytes durable (fsync). False with a reason.
bool FlushFile(const std::string& path, std::string& reason);
// Makes the folder's names durable (fsync of the folder). On a journaling file system (ext4,
// XFS) this commits the journal, and with it the sizes of the files written out before it.
bool FlushFolder(const std::string& folder, std::string& reason);

// 0 moved, 1 no such file, 9 the move failed. Within one file system the file is renamed;
// across file systems it is copied and flushed, and the source deleted only after the
// destination is complete (a failed copy deletes nothing).
int MoveFile(const std::string& source, const std::string& destination);

// Receive: MoveFile from the link path to the receive folder's file of the serial, center and
// kind. Send: copies the send folder's file to the link path, the source stays. Result
// "0000", or "9999" for a kind "Err", another direction or any file failure.
void MoveTransferFile(const WorkArea& work, FileMoveRequest& request);

// Direction letters in their four accepted forms.
bool IsSendDirection(const std::string& direction);
bool IsReceiveDirection(const std::string& direction);

}  // namespace edi
