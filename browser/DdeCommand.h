#pragma once
// The command texts of the shell's DDE requests for opening HTML files and
// folders in this browser. The transport is not available on this platform;
// the parsing is, so that the behaviour stays defined and tested.
#include <QString>

struct TDdeFolderCommand {
    QString verb;          // text after "[" up to "("
    QString path;          // text between the first two double quotes
    long long handle = 0;  // item-list handle (first number after the first comma)
    long long process = 0; // owning process, when "handle:process" was given
    int show = 1;          // show command (first digit after the second comma)
};

// HTML mode: a text that begins with a double quote names the URL between it
// and the next double quote; any other text is the URL itself.
[[nodiscard]] QString ParseDdeHtmlCommand(const QString& text);
// Folder mode: "[verb("path",handle[:process],show)]".
[[nodiscard]] TDdeFolderCommand ParseDdeFolderCommand(const QString& text);
