#ifndef EXPORTCOMMAND_H
#define EXPORTCOMMAND_H

class CommandLine;

// export FILTER -o LOOK.cube|LOOK.png: writes a filter as a lookup table.
class ExportCommand
{
public:
    explicit ExportCommand(CommandLine &line);
    int run();

private:
    CommandLine &m_line;
};

#endif // EXPORTCOMMAND_H
