#ifndef INFOCOMMAND_H
#define INFOCOMMAND_H

class CommandLine;

// info FILTER: describes a filter.
class InfoCommand
{
public:
    explicit InfoCommand(CommandLine &line);
    int run();

private:
    CommandLine &m_line;
};

#endif // INFOCOMMAND_H
