// zorvexrun: one FTP upload or download per run, configured by the settings
// file "zorvex" beside the executable.
#include <cstdio>
#include <string>

#include "app/zorvexrun.h"
#include "app/run_options.h"
#include "platform/env.h"
#include "platform/locale.h"

namespace {

constexpr const char kUsage[] =
    "Usage: zorvexrun [OPTIONS] /p LOCALFILE,REMOTEPATH\n"
    "       zorvexrun [OPTIONS] /g REMOTEPATH,LOCALFOLDER\n"
    "       zorvexrun --help | --version\n"
    "\n"
    "Uploads one local file (/p) or downloads one remote file into a local\n"
    "folder (/g). The character after /p or /g is skipped; the first comma\n"
    "splits the two paths. A download is written to LOCALFOLDER followed\n"
    "directly by the remote file name, so end the folder with \"/\".\n"
    "\n"
    "Settings file \"zorvex\" beside the executable, six comma-separated fields:\n"
    "  host,user,password,binary,passive,reserved\n"
    "  host      server name or address; \"name:port\", \"IPv4:port\" or\n"
    "            \"[IPv6]:port\" chooses a port other than 21;\n"
    "            \"ftpes://HOST[:PORT]\" explicit TLS, \"ftps://HOST[:PORT]\"\n"
    "            implicit TLS (port 990); a file \"zorvex.pem\" beside the\n"
    "            settings file holds the only certificates trusted\n"
    "  binary    non-zero: binary transfer; 0: ASCII transfer\n"
    "  passive   non-zero: passive mode; 0: active mode\n"
    "Run log \"zorvexlog.txt\" beside the executable: one line,\n"
    "  Start=<time> - End=<time>   after a successful transfer\n"
    "  Start=<time> -              after a failure\n"
    "\n"
    "Exit status (the first failure's, if there are several):\n"
    "  0  success\n"
    "  1  run-time error, or the run log could not be written\n"
    "  2  settings file missing or empty\n"
    "  3  command line: no comma, neither /p nor /g, an empty path\n"
    "  4  local file or local folder not found\n"
    "  5  no connection: server unreachable, login or TLS refused\n"
    "  6  the upload or download failed\n"
    "  128+N  interrupted by signal N: 130 SIGINT (Ctrl+C), 143 SIGTERM,\n"
    "         129 SIGHUP\n"
    "\n"
    "Options, before the paths (\"--\" ends them):\n"
    "  -v, --verbose         the dialogue with the server on standard error\n"
    "                        (passwords never shown), and a failure's cause\n"
    "  --progress            a progress line while a file moves, when\n"
    "                        standard error is a terminal\n"
    "  -c, --settings FILE   read FILE instead of the settings file beside\n"
    "                        the executable; the run log and zorvex.pem are\n"
    "                        then those beside FILE\n"
    "  --retry N             after a failure that may pass (refused, reset,\n"
    "                        timed out, a 4xx reply, a cut data connection)\n"
    "                        try again up to N more times, waiting 1, 2, 4 ...\n"
    "                        seconds (at most 30); a cut download resumes\n"
    "  --atomic              upload under a temporary name in the target\n"
    "                        folder, then rename it to the target name\n";

}  // namespace

int main(int argc, char** argv) {
  platform::Env* os = platform::Env::Default();
  os->PrepareProcess();
  const zorvex::ParsedOptions parsed =
      zorvex::ParseRunOptions(os->CommandArguments(argc, argv));
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "zorvexrun: %s (see zorvexrun --help)\n",
                 platform::ToAnsi(parsed.error).c_str());
    return zorvex::kExitCommandLine;
  }
  if (parsed.options.help) {
    std::fputs(kUsage, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (parsed.options.version) {
    std::printf("zorvexrun %.*s\n",
                static_cast<int>(zorvex::kZorvexrunVersion.size()),
                zorvex::kZorvexrunVersion.data());
    return std::fflush(stdout) == 0 ? 0 : 1;
  }

  zorvex::RunEnvironment env;
  env.env = os;
  env.exe_folder = os->ExecutableFolder();
  env.tail = os->CommandTail(argc, argv, parsed.consumed);
  env.options = parsed.options;
  zorvex::ZorvexRun run(std::move(env));
  run.Form_Load();
  return run.exit_status();
}
