// autorun-config: enciphers, deciphers, shows, checks and plans the installer's
// configuration files, and lays out whole cards. The options of every command are declared
// here, into the plain structs of commands.h; each command lives in a file of its own.
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>

#include "commands.h"
#include "configuration_key.h"
#include "tool_files.h"

namespace {

using namespace autorun::config_tool;

void addKeyOption(CLI::App& command, std::string& key) {
  key.assign(autorun::kConfigurationKey, autorun::kConfigurationKeyLength);
  command
      .add_option("--key", key, "Cipher key (default: the key this build's installer reads with)")
      ->check([](const std::string& value) {
        return value.empty() ? std::string("the key must not be empty") : std::string();
      });
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(
      "Configuration files and cards of the autorun installer. Exit codes: 0 done, 1 failed "
      "(check: errors found), 2 a file cannot be read or written (check, plan, build), 64 "
      "bad options",
      "autorun-config");
  app.require_subcommand(1);
  int exitCode = kExitOk;

  EncodeOptions encode;
  CLI::App* encodeCommand = app.add_subcommand(
      "encode",
      "Encipher a plain configuration text into the file the installer reads (UTF-8: line "
      "ends become CR LF; UTF-16: taken as written)");
  encodeCommand->add_option("PLAIN", encode.plain, "Plain configuration text")->required();
  encodeCommand->add_option("OUT", encode.out, "Configuration file to write (autorun_8.qlm)")
      ->required();
  addKeyOption(*encodeCommand, encode.key);
  encodeCommand->callback([&] { runEncode(encode, std::cerr); });

  DecodeOptions decode;
  CLI::App* decodeCommand = app.add_subcommand(
      "decode",
      "Decipher a configuration file into plain UTF-8 text with LF line ends (UTF-16 as the "
      "installer reads it when its line ends would not survive UTF-8)");
  decodeCommand->add_option("IN", decode.in, "Configuration file (autorun_8.qlm)")->required();
  decodeCommand->add_option("OUT", decode.out, "Text file to write (default: standard output)");
  addKeyOption(*decodeCommand, decode.key);
  decodeCommand->callback([&] { runDecode(decode, std::cout, std::cerr); });

  DumpOptions dump;
  CLI::App* dumpCommand = app.add_subcommand(
      "dump",
      "Show the entries the installer would hold after loading a configuration (enciphered "
      "file or plain text), one 'key = value' line each, control characters escaped");
  dumpCommand->add_option("IN", dump.in, "Configuration file or plain configuration text")
      ->required();
  addKeyOption(*dumpCommand, dump.key);
  dumpCommand->callback([&] { runDump(dump, std::cout, std::cerr); });

  CheckOptions check;
  std::string checkCard;
  CLI::App* checkCommand = app.add_subcommand(
      "check",
      "Report what the installer would skip, misread or fail on in a configuration (plain "
      "source or enciphered file) and, with --card, on the card, as file:line:column: "
      "severity: message [rule]. Exits with 1 when there are errors (with --werror also "
      "warnings), 2 when a file cannot be read or the report cannot be written");
  checkCommand->add_option("FILE", check.file, "The configuration: plain source or enciphered file")
      ->required();
  checkCommand->add_option("--card", checkCard,
                           "A card's root folder on the host: run the installer's own planning "
                           "and an installation on a simulated device over it (read only)");
  addKeyOption(*checkCommand, check.key);
  checkCommand->add_flag("--json", check.json,
                         "Write the findings as a JSON array of {file, line, column, severity, "
                         "message, rule}");
  checkCommand->add_flag("--werror", check.warningsAreErrors, "Treat warnings as errors");
  checkCommand->callback([&] {
    if (!checkCard.empty()) check.cardFolder = checkCard;
    exitCode = runCheck(check, std::cout, std::cerr);
  });

  PlanOptions plan;
  CLI::App* planCommand = app.add_subcommand(
      "plan",
      "Show what an installation from the card on a fresh device would do, in order (folders, "
      "copies with sizes, the space needed, registry values, shortcuts, DLLs, the program "
      "started), and what the uninstallation would remove; worked out by the installer's own "
      "code on a simulated device, without copying the card's files");
  planCommand->add_option("FILE", plan.file, "The configuration: plain source or enciphered file")
      ->required();
  planCommand->add_option("--card", plan.cardFolder, "The card's root folder on the host")
      ->required();
  addKeyOption(*planCommand, plan.key);
  planCommand->add_flag("--json", plan.json, "Write the plan as one JSON object");
  planCommand->callback([&] { exitCode = runPlan(plan, std::cout, std::cerr); });

  BuildOptions build;
  std::string installer;
  std::string image;
  int imageMegabytes = 0;
  CLI::App* buildCommand = app.add_subcommand(
      "build",
      "Lay out a complete card: the application's files, 2577/autorun.exe and the enciphered "
      "2577/autorun_8.qlm; refused when check --card finds an error. Prints the plan's "
      "summary");
  buildCommand->add_option("FILE", build.file, "The configuration: plain source or enciphered file")
      ->required();
  buildCommand->add_option("--files", build.files, "The application's files: the card's content")
      ->required();
  buildCommand->add_option("--out", build.out, "The card folder to make (missing or empty)")
      ->required();
  buildCommand->add_option("--installer", installer,
                           "The installer program to put in 2577/autorun.exe (default: the "
                           "one in the files' 2577 folder)");
  buildCommand->add_option("--image", image,
                           "Also write a FAT32 image of the card (mkfs.fat and mcopy)");
  buildCommand
      ->add_option("--size", imageMegabytes,
                   "The image's size in MiB (default: the files and room to spare, at "
                   "least 64)")
      ->check(CLI::Range(34, 1 << 20));
  addKeyOption(*buildCommand, build.key);
  buildCommand->callback([&] {
    if (!installer.empty()) build.installer = installer;
    if (!image.empty()) build.image = image;
    if (imageMegabytes > 0) build.imageMegabytes = imageMegabytes;
    exitCode = runBuild(build, std::cout, std::cerr);
  });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    std::cerr << "autorun-config: " << e.what()
              << "\n(autorun-config --help lists the commands and their options)\n";
    return kExitUsage;
  } catch (const ToolError& e) {
    std::cerr << "autorun-config: error: " << e.what() << '\n';
    return kExitFailed;
  } catch (const std::exception& e) {
    std::cerr << "autorun-config: error: " << e.what() << '\n';
    return kExitFailed;
  }
  return exitCode;
}
