#include "inet/message_table.h"

#include <algorithm>
#include <array>

namespace inet {
namespace {

struct Message {
  DWORD code;
  std::string_view english;
  std::string_view japanese;
};

// Sorted by code.
constexpr Message kMessages[] = {
    {0, "The operation completed successfully.", "操作は正常に完了しました。"},
    {1, "The function is not valid for this request.", "この要求に対して関数が正しくありません。"},
    {2, "The system cannot find the file specified.", "指定されたファイルが見つかりません。"},
    {3, "The specified path does not exist.", "指定されたパスは存在しません。"},
    {4, "Too many files are open.", "開いているファイルが多すぎます。"},
    {5, "Access to the file or folder is denied.", "ファイルまたはフォルダーへのアクセスが拒否されました。"},
    {6, "The handle is not valid.", "ハンドルが無効です。"},
    {8, "There is not enough memory to complete this operation.", "この操作を完了するのに十分なメモリがありません。"},
    {13, "The data is not valid.", "データが無効です。"},
    {14, "There is not enough memory to finish this operation.", "この操作を終えるのに十分なメモリがありません。"},
    {15, "The drive specified cannot be found.", "指定されたドライブが見つかりません。"},
    {18, "No more files were found.", "該当するファイルはこれ以上ありません。"},
    {21, "The device is not ready for use.", "デバイスを使用する準備ができていません。"},
    {29, "Writing to the device failed.", "デバイスへの書き込みに失敗しました。"},
    {30, "Reading from the device failed.", "デバイスからの読み取りに失敗しました。"},
    {32, "The file is in use by another process and cannot be accessed.", "ファイルは別のプロセスが使用中のためアクセスできません。"},
    {33, "Part of the file is locked by another process.", "ファイルの一部が別のプロセスによってロックされています。"},
    {39, "The disk has no free space left.", "ディスクの空き領域がなくなりました。"},
    {50, "This request is not supported.", "この要求には対応していません。"},
    {80, "The file already exists.", "ファイルは既に存在します。"},
    {82, "The file or directory could not be created.", "ファイルまたはディレクトリを作成できませんでした。"},
    {87, "A parameter is not valid.", "パラメーターが正しくありません。"},
    {110, "The file or device could not be opened.", "ファイルまたはデバイスを開けませんでした。"},
    {111, "The file name is longer than allowed.", "ファイル名が許容される長さを超えています。"},
    {112, "The disk does not have enough free space.", "ディスクの空き領域が不足しています。"},
    {120, "This function is not available on this system.", "この関数はこのシステムでは使用できません。"},
    {122, "The buffer is too small for the data.", "バッファーがデータに対して小さすぎます。"},
    {123, "The file name, directory name or volume label is not written correctly.", "ファイル名、ディレクトリ名、またはボリューム ラベルの書き方が正しくありません。"},
    {145, "The directory still contains files.", "ディレクトリにまだファイルが残っています。"},
    {161, "The path is not valid.", "パスが無効です。"},
    {183, "The file cannot be created because it already exists.", "既に存在するため、ファイルを作成できません。"},
    {206, "The file name or its extension is too long.", "ファイル名または拡張子が長すぎます。"},
    {267, "The directory name is not valid.", "ディレクトリ名が無効です。"},
    {1223, "The user canceled the operation.", "ユーザーが操作を取り消しました。"},
    {1460, "The operation did not finish before its time ran out.", "操作はタイムアウト期間内に終了しませんでした。"},
    {12001, "No more Internet handles can be allocated.", "これ以上インターネット ハンドルを割り当てられません。"},
    {12002, "The operation timed out.", "操作がタイムアウトしました。"},
    {12003, "The server returned extended error information.", "サーバーから拡張エラー情報が返されました。"},
    {12004, "An internal error occurred.", "内部エラーが発生しました。"},
    {12005, "The URL is not valid.", "URL が無効です。"},
    {12006, "The URL scheme is not recognized or not supported.", "URL のスキームを認識できないか、サポートされていません。"},
    {12007, "The server name could not be resolved.", "サーバー名を解決できませんでした。"},
    {12008, "The requested protocol could not be found.", "要求されたプロトコルが見つかりません。"},
    {12009, "The option given is not valid.", "指定されたオプションが無効です。"},
    {12010, "The length given for the option is wrong for its type.", "オプションに指定された長さがその種類に対して正しくありません。"},
    {12011, "The option cannot be set; it can only be queried.", "このオプションは設定できません。照会のみ可能です。"},
    {12012, "Internet support is being shut down.", "インターネット機能は終了処理中です。"},
    {12013, "The user name is not valid.", "ユーザー名が正しくありません。"},
    {12014, "The password is not valid.", "パスワードが正しくありません。"},
    {12015, "The server refused the login.", "サーバーがログインを拒否しました。"},
    {12016, "The requested operation is not valid.", "要求された操作は無効です。"},
    {12017, "The operation was canceled.", "操作は取り消されました。"},
    {12018, "The handle is of the wrong type for this operation.", "このハンドルの種類はこの操作に使用できません。"},
    {12019, "The handle is not in a state that allows this operation.", "ハンドルがこの操作を行える状態にありません。"},
    {12023, "Direct network access is not possible.", "ネットワークに直接アクセスできません。"},
    {12026, "The request cannot be completed while an earlier one is pending.", "前の要求が保留中のため、要求を完了できません。"},
    {12028, "The requested item could not be found.", "要求された項目が見つかりません。"},
    {12029, "Could not connect to the server.", "サーバーに接続できませんでした。"},
    {12030, "The connection to the server was ended.", "サーバーとの接続が終了しました。"},
    {12031, "The server reset the connection.", "サーバーが接続をリセットしました。"},
    {12037, "The server's certificate has expired or is not valid yet.", "サーバーの証明書は有効期限が切れているか、まだ有効になっていません。"},
    {12038, "The server's certificate does not name this server.", "サーバーの証明書にこのサーバーの名前がありません。"},
    {12045, "The server's certificate was not issued by a trusted authority.", "サーバーの証明書は信頼された機関が発行したものではありません。"},
    {12110, "A transfer is already in progress on this connection.", "この接続では既に転送が進行中です。"},
    {12111, "The FTP session ended unexpectedly.", "FTP セッションが予期せず終了しました。"},
    {12152, "The server sent a response that could not be understood.", "サーバーから解釈できない応答が返されました。"},
    {12157, "A secure connection to the server could not be established.", "サーバーとの安全な接続を確立できませんでした。"},
    {12169, "The certificate is not valid.", "証明書が無効です。"},
};

constexpr bool IsSorted() {
  for (size_t i = 1; i < std::size(kMessages); ++i) {
    if (kMessages[i - 1].code >= kMessages[i].code) return false;
  }
  return true;
}
static_assert(IsSorted(), "message codes must ascend");

}  // namespace

std::string_view LookupMessage(DWORD code, bool japanese) {
  const auto* end = std::end(kMessages);
  const auto* it = std::lower_bound(
      std::begin(kMessages), end, code,
      [](const Message& m, DWORD c) { return m.code < c; });
  if (it == end || it->code != code) return {};
  return japanese ? it->japanese : it->english;
}

size_t MessageCount() { return std::size(kMessages); }

DWORD MessageCodeAt(size_t index) {
  return index < std::size(kMessages) ? kMessages[index].code : 0;
}

}  // namespace inet
