#ifndef GENERATECOMMAND_H
#define GENERATECOMMAND_H

class CommandLine;

// generate SOURCE PRODUCT [SOURCE PRODUCT ...] -o FILTER [--method M]: learns a filter from
// one or more image pairs.
class GenerateCommand
{
public:
    explicit GenerateCommand(CommandLine &line);
    int run();

private:
    CommandLine &m_line;
};

#endif // GENERATECOMMAND_H
