-- Run after demo.sql for the demo's second database, Sales_Restore: the demo
-- as restored from an older backup. Order 1007 came after the backup, the
-- amount of 1004 and the status of 1005 were corrected since, and 1008 was
-- entered into the restore alone: Orders against this Orders by key gives
-- one line of each kind. Kept at the end of the table, 1008 leaves a run by
-- position with record 7 as the only shifted pair.
update Orders set Amount = 408.00 where OrderID = 1004;
update Orders set Status = N'Open' where OrderID = 1005;
delete from Orders where OrderID = 1007;
insert into Orders values (1008, 3, '2024-01-05 10:30:00', 59.95, N'Open', 0, N'Entered after restore');
