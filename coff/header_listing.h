// The console listing of the object's headers, printed as they are read.
#pragma once

#include <cstdio>

void list_file_head(std::FILE* console);
void list_opt_head(std::FILE* console);
void list_sect_banner(std::FILE* console);
void list_sect_row(std::FILE* console, unsigned index);
