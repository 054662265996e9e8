// FTPFile: the record of one remote directory entry. A plain record with public
// fields and no behaviour; the session object fills it during a search.
#ifndef ZORVEX_FTP_FTP_FILE_H_
#define ZORVEX_FTP_FTP_FILE_H_

#include <cstdint>
#include <string>

#include "ftp/date.h"

namespace zorvex {

class FTPFile {
 public:
  std::string FileName;        // the entry's name as the server lists it
  double FileSize = 0;         // size in bytes
  Date FileDate;               // last-write date and time, to the second
  int32_t FileType = 0;        // 16 for a directory, 0 otherwise
  bool SearchEnd = false;      // true once a listing has ended or failed to start
};

}  // namespace zorvex

#endif  // ZORVEX_FTP_FTP_FILE_H_
