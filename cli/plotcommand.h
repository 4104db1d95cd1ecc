#ifndef PLOTCOMMAND_H
#define PLOTCOMMAND_H

class CommandLine;

// plot FILTER -o PLOT.png: draws what a filter does.
class PlotCommand
{
public:
    explicit PlotCommand(CommandLine &line);
    int run();

private:
    CommandLine &m_line;
};

#endif // PLOTCOMMAND_H
