# The step definitions of the reference report, as Cucumber runs them.
Given(/^the counter is (\d+)$/) { |n| @counter = n.to_i }
When(/^I add (\d+)$/) { |n| @counter += n.to_i }
Then(/^the counter shows (\d+)$/) { |n| raise "expected #{n}, got #{@counter}" unless @counter == n.to_i }
When(/^a pending step runs$/) { pending }
Given(/^the document$/) { |doc| }
Given(/^the table$/) { |table| }
