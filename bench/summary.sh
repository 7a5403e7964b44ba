#!/usr/bin/env bash
# Prints every figure `make bench` measured, beside its anchor and ratio, as one table.
summary=${1:?summary file}
[ -s "$summary" ] || { echo "no figures were recorded in $summary"; exit 0; }
echo
echo "Summary"
{
    printf 'figure\tvalue\tanchor\tanchor value\tratio\tgoal\tverdict\n'
    cat "$summary"
} | column -t -s $'\t'
