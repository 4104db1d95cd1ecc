#ifndef GENERATECOMMAND_H
#define GENERATECOMMAND_H

class CommandLine;

// generate SOURCE PRODUCT -o FILTER [--method M]: learns a filter from an image pair.
class GenerateCommand
{
public:
    explicit GenerateCommand(CommandLine &line);
    int run();

private:
    CommandLine &m_line;
};

#endif // GENERATECOMMAND_H
