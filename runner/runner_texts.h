#pragma once
// Every text the packed runner and the packer show a person: the runner's
// message boxes and tray menu (the caption of its message boxes is
// ui_text::kRunnerCaption), and the packer's reasons.
// Kept in UTF-8 and used exactly as written: packed applications have shown
// them so since their first release, and the tests compare them byte for
// byte.

namespace velmar::runner_text {

inline constexpr char kBootFileMessage[] = "启动文件(Velmar.boot)无法打开或者格式无效!";

// The tray menu.
inline constexpr char kShowMain[] = "显示主界面(&S)";
inline constexpr char kQuit[] = "退出(&Q)";
inline constexpr char kSupport[] = "在线支持(&H)..";

// The packer (`velmar pack` and the manager's packer dialog): why a package
// could not be made, and what is worth a look. "%1", "%2", ... stand for the
// paths, names and system reasons each names.
inline constexpr char kPackNotAFolder[] = "not a folder: %1";
inline constexpr char kPackNoOutput[] = "no output folder given";
inline constexpr char kPackUnusableOutput[] = "not a usable output folder: %1";
inline constexpr char kPackOutputInside[] =
    "the output folder %1 must lie outside the script folder and not contain it";
inline constexpr char kPackOutputExists[] = "%1 exists; --force replaces an earlier package";
inline constexpr char kPackOutputNotPackage[] =
    "%1 is no packed application (no Velmar.boot and vlmpack); it is not replaced";
inline constexpr char kPackArchiveExists[] = "%1 exists; --force replaces it";
inline constexpr char kPackArchiveNotFile[] = "%1 is no file; it is not replaced";
inline constexpr char kPackNoRunner[] = "cannot find the runner program vlmpack (looked for %1)";
inline constexpr char kPackNoBootFile[] = "cannot read the boot file %1";
inline constexpr char kPackNoParent[] = "the folder %1 does not exist";
inline constexpr char kPackCannotCreate[] = "cannot create %1: %2";
inline constexpr char kPackCannotCopy[] = "cannot copy %1: %2";
inline constexpr char kPackCannotWrite[] = "cannot write %1";
inline constexpr char kPackCannotWriteWhy[] = "cannot write %1: %2";
inline constexpr char kPackHotKeyNoKey[] =
    "the hot key \"%1\" does not end in a key the runner can register; write it as modifiers "
    "and a key, for example \"CTRL + ALT + Q\"";
// %2 is kPackEmptyModifier or the modifier in quotes, %3 the key's name.
inline constexpr char kPackHotKeyModifier[] =
    "the hot key \"%1\" names %2, which the runner cannot register (only CTRL and ALT are): it "
    "would take the key %3 alone from every program";
inline constexpr char kPackEmptyModifier[] = "an empty modifier";
inline constexpr char kPackHotKeyLastByte[] =
    "the hot key \"%1\" is registered as its last byte, the key %2";
inline constexpr char kPackHotKeyLastByteNotAs[] =
    "the hot key \"%1\" is registered as its last byte, the key %2, not as \"%3\"";
inline constexpr char kPackHotKeyBossKey[] =
    "the hot key \"%1\" is the manager's boss key (\"%2\"): while tamarind runs, one of the two "
    "programs will not get it";
inline constexpr char kPackTooDeep[] = "folders nest deeper than %1 levels; skipped %2";
inline constexpr char kPackCannotReadFolder[] = "cannot read the folder %1: %2";
inline constexpr char kPackBrokenLink[] = "broken link skipped: %1";
inline constexpr char kPackLinkLoop[] = "link loop skipped: %1";
inline constexpr char kPackNotFileOrFolder[] = "not a file or folder, skipped: %1";
inline constexpr char kPackBootNoLine[] =
    "the boot file %1 has no line of the form name^script^parameter";
inline constexpr char kPackBootScriptMissing[] =
    "the boot file names a script that is not in the package: %1";
inline constexpr char kPackNoScript[] = "no .vlm script at the top of %1";
inline constexpr char kPackNoMain[] =
    "cannot tell the main script of %1 (no main.vlm and %2 scripts); give --boot FILE";
inline constexpr char kPackSettingCut[] = "the runner reads only the first %1 bytes of %2";
inline constexpr char kPackSettingLineBreak[] = "the value of %1 cannot hold a line break";
inline constexpr char kPackMissingInclude[] = "missing include: \"using %1\" in %2 (%3 is not there)";
inline constexpr char kPackCannotRemoveEarlier[] = "cannot remove the earlier package %1: %2";
inline constexpr char kPackCannotMove[] = "cannot move the package to %1: %2";
inline constexpr char kPackNoTar[] = "cannot run tar to make %1";
inline constexpr char kPackTarFailed[] = "tar could not make %1";

// The help of the command line (--help, and after a usage error).
// Followed by the exit status table (ExitStatusHelpText).
inline constexpr char kUsage[] =
    "usage: vlmpack [--headless] [--home DIR [--create-home]]\n"
    "               [--jsonl] [--time-limit SECONDS] [--trace DIR [--trace-secrets]]\n"
    "       vlmpack --help | --version\n"
    "\n"
    "Starts every script named in Velmar.boot of the home folder and ends when\n"
    "the last of them has ended.\n"
    "  --headless   no tray icon and no hot key; the scripts' requests are\n"
    "               printed as by `velmar run`, prompts read standard input\n"
    "  --home DIR   the home folder (else the program's folder when it holds\n"
    "               Velmar.boot, else VELMAR_HOME, ... as for velmar); it must\n"
    "               exist\n"
    "  --create-home  make the --home folder when it does not exist\n"
    "  --jsonl      with --headless: every line as one JSON object (UTF-8),\n"
    "               diagnostics and script errors included\n"
    "  --time-limit SECONDS  stop the scripts as SIGTERM does when the time\n"
    "               is up\n"
    "  --trace DIR  with --headless: record each script's run in DIR/NAME-N.trace\n"
    "               (velmar help trace); --trace-secrets keeps cookies and\n"
    "               passwords in it\n"
    "exit status (the worst of all scripts decides):\n";

}  // namespace velmar::runner_text
