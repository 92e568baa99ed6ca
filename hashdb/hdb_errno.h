// Site-coded errno of the hash database: errno = errno % 1000 + site * 1000.
// The low three digits keep the system error of the failing call (0 when the
// caller preset errno to 1000000 and no system call failed); the site names
// where the failure arose.
#pragma once

#include <cerrno>

namespace vorlane::hashdb {

enum Site : int {
  kSitePoolNotRegular = 1101,
  kSitePoolMemory = 1102,
  kSitePoolLimit = 1103,
  kSitePoolRead = 1105,
  kSitePoolBufferMemory = 1106,
  kSitePoolWrite = 1108,
  kSiteOpenWriteOnly = 1201,
  kSiteTableMemory = 1202,
  kSiteOpenFile = 1203,
  kSiteNewSettings = 1204,
  kSiteHeaderShort = 1205,
  kSiteBadMagic = 1206,
  kSiteBadVersion = 1207,
  kSiteBadHeader = 1208,
  kSiteHeaderWrite = 1209,
  kSiteSplitMemory = 1210,
  kSiteHandleMemory = 1211,
  kSiteNoFile = 1212,
  kSiteFirstBitmap = 1215,
  kSiteNewBucket = 1217,
  kSiteBucketLimit = 1218,
  kSiteBigKeyMemory = 1301,
  kSiteBigDataMemory = 1302,
  kSiteSplitPoints = 1401,
  kSiteBitmapPages = 1402,
  kSiteSplitPointsAfterBitmap = 1403,
  kSiteAppendLimit = 1404,
  kSiteSlotOffset = 1405,
  kSiteSlotLimit = 1406,
};

inline void set_site_errno(int site) {
  int low = errno % 1000;
  if (low < 0) low = -low;
  errno = low + site * 1000;
}

// errno for a damaged page or chain met by an operation (plain EIO).
inline void set_damaged() { errno = EIO; }

// The text of a size or address limit of the file format reached at the
// site of a site-coded errno, or none when the code is no such limit. These
// sites set no system error, so the low digits would only say "Success".
inline const char* hdb_limit_text(int code) {
  switch (code / 1000) {
    case kSitePoolLimit: return "hash database limit: a new page would pass the 2 GB file size";
    case kSiteBucketLimit: return "hash database limit: a new bucket page would pass the 2 GB file size";
    case kSiteSplitPoints:
    case kSiteSplitPointsAfterBitmap: return "hash database limit: overflow pages would need a 33rd split point";
    case kSiteBitmapPages: return "hash database limit: overflow pages would need a 33rd bitmap page";
    case kSiteAppendLimit:
    case kSiteSlotLimit: return "hash database limit: an overflow page would pass the 2 GB file size";
    case kSiteSlotOffset: return "hash database limit: a split point has no overflow slot left (2046 at most)";
    default: return nullptr;
  }
}

}  // namespace vorlane::hashdb
