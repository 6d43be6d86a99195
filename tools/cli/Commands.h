#pragma once
// The commands of zentrel-cli. Each takes its own arguments (without the
// program and the command name) and returns the exit status.
#include <QStringList>

int RunCheck(const QStringList& args);
int RunFrame(const QStringList& args);
int RunDownload(const QStringList& args);
int RunPorts(const QStringList& args);
