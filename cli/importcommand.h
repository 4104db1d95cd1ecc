#ifndef IMPORTCOMMAND_H
#define IMPORTCOMMAND_H

class CommandLine;

// import LOOK.cube -o FILTER.cml: turns a 1D lookup table into a filter file.
class ImportCommand
{
public:
    explicit ImportCommand(CommandLine &line);
    int run();

private:
    CommandLine &m_line;
};

#endif // IMPORTCOMMAND_H
